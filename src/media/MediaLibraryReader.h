#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "foundation/Value.h"
#include "media/DeviceLibraryDatabase.h"
#include "media/TrackTable.h"
#include "media/iPodPlaylist.h"

class SqlDatabase;
class SqlResultSet;

namespace media {

// What the track query ladder learns of a media library, kept by the loader across loads.
struct MediaLibraryFlags {
    bool iOS7 = false;                // set before the ladder's fourth and fifth forms
    bool iOS8 = false;                // set before its third form
    std::int32_t libraryVersion = 0;  // 9 once the first form succeeded
};

// Reads the playlists and tracks of a device's SQLite library from local copies: the media
// library ("MediaLibrary.sqlitedb" with its -wal and -shm beside it), or the Library.itdb group
// (Library.itdb with Locations.itdb and Dynamic.itdb). Every value read from a database that
// goes back into a query is bound, never written into the SQL text. A database that does not
// open, is damaged or has tables of an unknown shape gives fewer or no records and a logged
// error; nothing throws out of the reader.
class MediaLibraryReader {
public:
    enum class Source { MediaLibrary, LibraryGroup };
    struct Files {
        std::string library;    // MediaLibrary copy, or the Library.itdb copy
        std::string locations;  // group only
        std::string dynamic;    // group only
    };

    // The databases are the device's, so untrusted: a budget bounds the work, the memory and
    // the time of all of them (see openDeviceLibrary); without one given, the budget for
    // files of their size.
    MediaLibraryReader(Source source, Files files, MediaLibraryFlags& flags);
    MediaLibraryReader(Source source, Files files, MediaLibraryFlags& flags,
                       LibraryWorkBudget budget);

    // Why the library was refused or its reading stopped at a limit of the budget; empty while
    // all is well. Once it is set the reader gives no playlists and no tracks, whatever it
    // had read: the library failed to load.
    const std::string& failure() const { return budget_.failure; }
    // Why the tracks could not be read (the failure above, or a database that does not
    // open or has no item table); empty when they could. Set by loadTracks().
    const std::string& unreadable() const { return budget_.failure.empty() ? unreadable_ : budget_.failure; }

    // The visible playlists in row order (a later row with the same pid replaces the earlier
    // record in its place), with tags from 100. False when the database does not open: then
    // there are no playlists and the loader's lists stay as they were.
    bool loadPlaylists();
    const std::vector<std::shared_ptr<iPodPlaylist>>& playlists() const { return playlists_; }
    // The same records by their pid column read as text.
    std::map<std::string, std::shared_ptr<iPodPlaylist>> rawPlaylists() const;

    // The steps of the track walk after its rows, which a caller may take under names of its
    // own; each one left empty is the reader's own below.
    struct TrackSteps {
        std::function<void(SqlDatabase&)> membership;
        std::function<void(SqlDatabase&, TrackTable&)> formatInfo;            // group only
        std::function<void(const std::string&, TrackTable&)> playStatistics;  // group only
    };
    // Every track in row order (a later row with the same pid replaces the earlier record in
    // its place); the playlists read before get their track ids. The steps run in the walk's
    // order: membership and format info over the open library, which then closes, and the
    // play statistics of the Dynamic.itdb, also when the Library.itdb did not open.
    foundation::Array loadTracks(const TrackSteps& steps = {});
    // The playlists' track ids from the open database's membership table.
    void addMembership(SqlDatabase& db);
    // "sampleRate" and "bitRate" from the open Library.itdb's avformat_info rows, onto the
    // records of their item_pid; none without the table.
    void addFormatInfo(SqlDatabase& db, TrackTable& tracks);
    // "stars" and "playCount" from the item_stats rows of the Dynamic.itdb at the path, onto
    // the records of their item_pid; a database that does not open is passed over.
    void addPlayStatistics(const std::string& path, TrackTable& tracks);

private:
    struct Maps;
    bool readLocations(SqlDatabase& db, Maps& maps);
    bool readGroupLocations(Maps& maps);
    void readGenresAndKinds(SqlDatabase& db, Maps& maps);
    std::shared_ptr<SqlResultSet> runTrackQuery(SqlDatabase& db, bool hasMediaType);
    void addBlobMembership(SqlDatabase& db);
    // Sets an entry of a record, charging its node the first time the record has the key.
    bool setCharged(foundation::Dictionary& record, const char* key, foundation::Value value);
    iPodPlaylist* rawPlaylist(std::string_view key) const;
    // Whether the library failed (see failure), logging a limit it reached the first time.
    bool failed();

    // Finds a pid's text as SQLite holds it, without a string made of it per membership row.
    struct TextHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const noexcept {
            return std::hash<std::string_view>{}(text);
        }
    };

    const Source source_;
    const Files files_;
    MediaLibraryFlags& flags_;
    std::vector<std::shared_ptr<iPodPlaylist>> playlists_;
    std::unordered_map<std::string, std::size_t, TextHash, std::equal_to<>>
        rawPlaylists_;  // pid text -> index
    LibraryWorkBudget budget_;
    bool limitLogged_ = false;
    std::string unreadable_;
};

// Reads a media-library membership blob: its whole 8-byte groups as little-endian signed
// 64-bit persistent ids, in order; a tail shorter than 8 bytes is left out.
std::vector<std::int64_t> persistentIdsOfBlob(const std::uint8_t* bytes, std::size_t length);

// The number an id's text spells exactly as a decimal is written ("12", "-7"); nullopt for any
// other text ("012", "+12", "-0", "12.0", "", out of range), which no number is written as.
std::optional<std::int64_t> integerKey(std::string_view text);

}  // namespace media
