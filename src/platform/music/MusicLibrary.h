#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/music/LibraryFiles.h"
#include "platform/music/TrackFilePattern.h"

class SqlDatabase;

namespace music {

// Where a library keeps its files and its index.
struct MusicLibraryLocation {
    std::string mediaFolder;  // track files, and the playlists in "Playlists/"
    std::string indexPath;    // the SQLite index
    // The current "transferFilePattern"; asked at every import and tag change.
    std::function<std::string()> filePattern;
    // How a file gets a second name: link() unless a test stands for a file system without
    // hard links.
    LibraryFiles::LinkCall link = {};
};

// Tags written onto a library track. Empty texts and zero numbers leave the track's own
// value as it is.
struct TrackMetadata {
    std::string title, artist, album, genre, albumArtist, composer, comment, description,
        longDescription;
    std::int32_t playCount = 0, stars = 0, year = 0, trackNumber = 0, totalTracks = 0,
                 discNumber = 0, discCount = 0;
};

struct LibraryTrack {
    std::string persistentID;
    std::string path;
    std::string title, artist, album;
};

struct PlaylistSummary {
    std::string persistentID;
    std::string name;
    std::int64_t trackCount = 0;
};

// The computer's music library: track files below the media folder, placed by the file
// pattern, and an SQLite index of tracks (16-hex-digit persistent ids, tags, file paths)
// and playlists, each playlist also written as "<name>.m3u8" (numbered where names clash,
// with each other or with files the library did not write). A playlist file is replaced only
// while it holds what the library last wrote there; once another program has put a file of
// its own at that name, the playlist moves to a free one. The index and the folder stay
// consistent through a crash: a track is listed only once its file is whole in place, and a
// listed file is never removed or renamed away. A file moved or removed leaves no folder
// it emptied behind. Thread-safe; one operation at a time.
class MusicLibrary {
public:
    // Opens (or makes) the index; nullptr with a reason when it cannot be used.
    static std::shared_ptr<MusicLibrary> open(MusicLibraryLocation location, std::string* error);
    ~MusicLibrary();

    // Adds the file: copied into the media folder, or listed where it is when it already
    // lies there; a file listed before answers its old id. The id, or nullopt with a reason.
    std::optional<std::string> importFile(const std::string& path, std::string* error);
    // "" on success, else the reason. A track placed by the library moves to the place its
    // new tags give.
    std::string updateMetadata(const std::string& persistentID, const TrackMetadata& metadata);
    std::string setRating(const std::string& persistentID, std::int32_t rating);
    // Adds the track at the end of the playlist, making the playlist when there is none of
    // that name; a track already there is not added twice. "" on success, else the reason.
    std::string addToPlaylist(const std::string& playlist, const std::string& persistentID);
    // The id of the playlist of that name, made when missing; nullopt for an empty name.
    std::optional<std::string> createPlaylist(const std::string& name);

    // By id when one is given, else by title, artist and album (letter case aside); the
    // earliest added of several.
    std::optional<LibraryTrack> findTrack(const std::string& persistentID, const std::string& title,
                                          const std::string& artist, const std::string& album);
    std::optional<std::string> trackPath(const std::string& persistentID);
    bool playlistHasTrack(const std::string& playlist, const std::string& persistentID);
    bool playlistHasTrackTagged(const std::string& playlist, const std::string& title,
                                const std::string& artist, const std::string& album);

    std::int64_t trackCount();
    std::vector<PlaylistSummary> playlists();
    // The .m3u8 file of the playlist of that name, each playlist's its own: written again,
    // at a free name where need be, when the file at its name is not the one the library
    // wrote; nullopt when there is no such playlist or its file cannot be written.
    std::optional<std::string> playlistFilePath(const std::string& name);
    const MusicLibraryLocation& location() const { return location_; }
    // Where imports are copied before they take their place.
    std::string stagingFolder() const;

private:
    MusicLibrary(MusicLibraryLocation location, std::shared_ptr<SqlDatabase> db,
                 std::string mediaFolder);
    std::optional<std::int64_t> trackRow(const std::string& persistentID);
    std::optional<std::int64_t> playlistRow(const std::string& name);
    std::optional<std::string> unusedPersistentID(const char* table);
    void placeByTags(std::int64_t row, const std::string& path);
    // Removes a file the library placed, and the folders its placing left empty.
    void removePlacedFile(const std::string& path);
    std::optional<std::string> playlistFileName(std::int64_t playlistRow);
    bool writePlaylistFile(std::int64_t playlistRow);
    void rewritePlaylistsOf(std::int64_t trackRow);
    // What a playlist file shows of the track: its path, artist and title.
    std::string playlistLine(std::int64_t trackRow);
    TrackFilePattern currentPattern() const;

    MusicLibraryLocation location_;
    std::shared_ptr<SqlDatabase> db_;
    std::string mediaFolder_;  // canonical
    std::recursive_mutex mutex_;
};

}  // namespace music
