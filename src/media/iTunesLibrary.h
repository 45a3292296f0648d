#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Value.h"

namespace music {
class MusicLibrary;
}

namespace media {

class iTunesWrapper;

// The program's view of the computer's music library: its playlists, listed once at start,
// and the matching of device tracks (string-keyed TrackRecord dictionaries) with library
// tracks, which marks each found record with "persistentID", "macpath" and "status"
// "copied".
class iTunesLibrary {
public:
    struct Playlist {
        std::string persistentID;
        std::string name;
        std::int64_t trackCount = 0;
        bool isLibrary = false;  // the playlist of all the library's tracks
    };

    explicit iTunesLibrary(iTunesWrapper& wrapper) : wrapper_(wrapper) {}

    // The shared view, over the shared wrapper; made on first use.
    static iTunesLibrary& itLibrary();
    // The local library is always there to be driven.
    static bool containsMusic() { return true; }
    // The applications that keep the music: the local library stands in for the Music
    // application ("com.apple.Music"); there is no iTunes application ("com.apple.iTunes")
    // here, so that one is null.
    static std::shared_ptr<music::MusicLibrary> MusicApp();
    static std::shared_ptr<music::MusicLibrary> iTunesApp();
    // The iTunes application, or the Music application where that cannot be made; chosen
    // once, recording the identifier of the one chosen.
    static std::shared_ptr<music::MusicLibrary> iTunes();
    // The identifier iTunes() recorded; none until it has run.
    static std::optional<std::string> iTunesIdentifier();
    // The local library plays nothing, so there is nothing to pause.
    static void pauseiTunesPlaying() {}

    // Lists the library's playlists (loadMusicTracks() where the Music application is
    // there): first the library playlist with every track, then the user's playlists by
    // name. A library that cannot be read is logged and leaves the view as it was.
    void loadTracks();
    void loadMusicTracks();
    bool isLoaded() const;
    bool IsLoaded() const { return isLoaded(); }
    std::vector<Playlist> itPlistlists() const;
    std::vector<Playlist> userPlaylists() const;
    // The user playlists of the shared view.
    static std::vector<Playlist> iTunesUserPlaylists();
    // What the page shows of the library as it is now (listed again for it): {"loaded",
    // "trackCount", "playlists": [{"name", "persistentID", "trackCount"}]}.
    foundation::Value summary();
    // Library tracks by key: never filled, so nil.
    foundation::Value allTracks() const;
    // Stores the value under the key, the empty text in place of nil.
    void addToForKey(const foundation::Value& value, foundation::Value& dictionary,
                     const std::string& key) const;

    // {"pid", "location"} of the library track with the record's title, artist and album.
    std::optional<foundation::Value> findTrackInLibrary(const foundation::Value& track);
    // Marks the record as found or takes the marks away; true when found.
    bool isTrackInITunes(foundation::Value& track);
    // Matches the records in order, handing each to the callback after its match; stops
    // as soon as the callback answers false.
    void isTracksInITunesCallback(foundation::Array& tracks,
                                  const std::function<bool(const foundation::Value&)>& callback);
    std::optional<std::string> pathForTrackByPersistentID(const std::string& persistentID);
    // Makes the playlist when there is none of that name; false when that fails.
    bool createPlaylist(const std::string& name);

private:
    void listPlaylistsOf(const std::shared_ptr<music::MusicLibrary>& application,
                         const char* errorText);

    iTunesWrapper& wrapper_;
    mutable std::mutex mutex_;
    foundation::Value allTracks_;
    bool isLoaded_ = false;
    std::int64_t trackCount_ = 0;
    std::vector<Playlist> playlists_;
};

}  // namespace media
