#include "media/MediaLibraryReader.h"

#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <exception>
#include <filesystem>
#include <unordered_map>

#include <fmt/format.h>

#include "data/db/SqlDatabase.h"
#include "data/db/SqlResultSet.h"
#include "data/helpers/NSStringHelpers.h"
#include "foundation/PathComponents.h"
#include "logging/LogCall.h"
#include "media/ArtworkPathLookup.h"
#include "media/DeviceLibraryDatabase.h"
#include "media/MediaLibraryQueries.h"
#include "media/MediaLibraryRows.h"
#include "media/RecordMemory.h"

using foundation::Value;

namespace media {

using RecordMemory::textBytes;

namespace {

// What one track record costs against the work budget, besides SQLite's own instructions.
constexpr std::uint64_t kInstructionsPerRecord = 2'000;
// What an entry of a map costs besides its texts: a hash node of a key and a text or a
// place, and its share of the buckets.
constexpr std::uint64_t kEntryBytes =
    RecordMemory::heapBlock(2 * sizeof(void*) + sizeof(std::int64_t) + sizeof(std::string) +
                            sizeof(std::int64_t)) +
    2 * sizeof(void*);
// What a playlist's track id costs: twice its size, as the list holding it grows by doubling.
constexpr std::uint64_t kIdBytes = 2 * sizeof(Value);
// What a track's place in the list of tracks costs: its key and its value, twice over, as
// the lists grow by doubling.
constexpr std::uint64_t kTrackSlotBytes = 2 * (sizeof(std::int64_t) + sizeof(Value));

// The bytes of the databases a reader opens (a media library's write-ahead log holds pages
// of it too); a file that is missing counts nothing.
std::uint64_t fileBytesOf(const MediaLibraryReader::Files& files) {
    std::uint64_t bytes = 0;
    for (const std::string& path :
         {files.library, files.library + "-wal", files.locations, files.dynamic}) {
        std::error_code ignored;
        if (path.empty()) continue;
        const auto size = std::filesystem::file_size(path, ignored);
        if (!ignored) bytes += size;
    }
    return bytes;
}

std::string decimal(std::int64_t value) {
    return fmt::format("{}", value);
}

}  // namespace

std::optional<std::int64_t> integerKey(std::string_view text) {
    const bool negative = !text.empty() && text.front() == '-';
    const std::string_view digits = text.substr(negative ? 1 : 0);
    // Only the one spelling a number is written with: no sign but '-', no leading zero, no "-0".
    if (digits.empty() || (digits.front() == '0' && (digits.size() > 1 || negative))) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

namespace {

// The key of an id column's value: what its text would be matched as.
std::optional<std::int64_t> keyOfColumnAt(const SqlResultSet& rows, int index) {
    if (rows.columnType(index) == SQLITE_INTEGER) return rows.longForColumnIndex(index);
    const auto text = rows.stringForColumnIndex(index);
    return text ? integerKey(*text) : std::nullopt;
}

std::optional<std::int64_t> keyOfColumn(SqlResultSet& rows, std::string_view name) {
    const int index = rows.columnIndexForName(name);
    return index < 0 ? std::nullopt : keyOfColumnAt(rows, index);
}

}  // namespace

// Keyed by the ids' numbers: an id whose text is not a number's own spelling can never be
// asked for, since the track rows are looked up by their ids' numbers.
struct MediaLibraryReader::Maps {
    // What the location rows say of one track: one entry, so a track row finds it at once.
    struct Place {
        std::int64_t kindKey = 0;  // base location id
        std::string location;      // device path; none reads as ""
    };
    std::unordered_map<std::int64_t, Place> places;       // pid -> its location row
    std::unordered_map<std::int64_t, std::string> size;   // pid -> size text (group)
    std::unordered_map<std::int64_t, std::string> genre;  // genre id -> name
    std::unordered_map<std::int64_t, std::string> kind;   // kind id -> text
};

std::vector<std::int64_t> persistentIdsOfBlob(const std::uint8_t* bytes, std::size_t length) {
    std::vector<std::int64_t> ids;
    ids.reserve(length / 8);
    for (std::size_t at = 0; at + 8 <= length; at += 8) {
        std::uint64_t value = 0;
        for (int i = 7; i >= 0; --i) value = (value << 8) | bytes[at + static_cast<std::size_t>(i)];
        ids.push_back(static_cast<std::int64_t>(value));
    }
    return ids;
}

MediaLibraryReader::MediaLibraryReader(Source source, Files files, MediaLibraryFlags& flags)
    : MediaLibraryReader(source, files, flags, LibraryWorkBudget::forFiles(fileBytesOf(files))) {}

MediaLibraryReader::MediaLibraryReader(Source source, Files files, MediaLibraryFlags& flags,
                                       LibraryWorkBudget budget)
    : source_(source), files_(std::move(files)), flags_(flags), budget_(std::move(budget)) {}

iPodPlaylist* MediaLibraryReader::rawPlaylist(std::string_view key) const {
    const auto found = rawPlaylists_.find(key);
    return found == rawPlaylists_.end() ? nullptr : playlists_[found->second].get();
}

bool MediaLibraryReader::failed() {
    if (budget_.failure.empty()) return false;
    // A refused database was logged when it was refused.
    if (budget_.exhausted() && !limitLogged_) {
        LogError("Reading the media library {} stopped: {}", files_.library, budget_.failure);
        limitLogged_ = true;
    }
    return true;
}

std::map<std::string, std::shared_ptr<iPodPlaylist>> MediaLibraryReader::rawPlaylists() const {
    std::map<std::string, std::shared_ptr<iPodPlaylist>> byKey;
    for (const auto& [key, index] : rawPlaylists_) byKey.emplace(key, playlists_[index]);
    return byKey;
}

bool MediaLibraryReader::loadPlaylists() {
    playlists_.clear();
    rawPlaylists_.clear();
    if (failed()) return false;
    auto db = openDeviceLibrary(files_.library, budget_);
    if (!db) {
        if (!failed()) LogInfo("Failed to open database {}", files_.library);
        return false;
    }
    const char* pidColumn = source_ == Source::MediaLibrary ? "container_pid" : "pid";
    if (auto rows = db->executeQuery("SELECT * FROM container WHERE is_hidden=0;")) {
        std::int32_t tag = 100;
        while (rows->next()) {
            const std::int64_t pid = rows->longForColumn(pidColumn);
            const std::string key = rows->stringForColumn(pidColumn).value_or("");
            const bool genius = rows->boolForColumn("smart_is_genius");
            const bool dynamic = rows->boolForColumn("smart_is_dynamic");
            auto playlist =
                iPodPlaylist::CreateNewPlaylistWithName(rows->safeStringForColumn("name"), pid,
                                                        genius    ? 12
                                                        : dynamic ? 2
                                                                  : 0,
                                                        tag++);
            playlist->setIsHidden(rows->boolForColumn("is_hidden"));
            playlist->setIsSmart(dynamic);
            playlist->setIsGenius(genius);
            if (!budget_.copy(kEntryBytes + textBytes(key) +
                              RecordMemory::heapBlock(sizeof(iPodPlaylist)) +
                              textBytes(playlist->name()))) {
                break;
            }
            if (const auto found = rawPlaylists_.find(key); found != rawPlaylists_.end()) {
                playlists_[found->second] = std::move(playlist);
            } else {
                rawPlaylists_.emplace(key, playlists_.size());
                playlists_.push_back(std::move(playlist));
            }
        }
        rows->close();
    } else {
        LogError("No playlists in {}: {}", files_.library, db->lastErrorMessage());
    }
    db->close();
    if (failed()) {
        playlists_.clear();
        rawPlaylists_.clear();
        return false;
    }
    return true;
}

bool MediaLibraryReader::readLocations(SqlDatabase& db, Maps& maps) {
    std::unordered_map<std::string, std::string> base;
    if (auto rows = db.executeQuery("SELECT * FROM base_location;")) {
        while (rows->next()) {
            std::string id = rows->safeStringForColumn("base_location_id");
            std::string path = rows->safeStringForColumn("path");
            if (!budget_.copy(kEntryBytes + textBytes(id) + textBytes(path))) break;
            base[std::move(id)] = std::move(path);
        }
        rows->close();
    }
    auto rows = db.executeQuery(
        "SELECT item.item_pid, item_extra.location, item_extra.file_size, item.base_location_id "
        "FROM item, item_extra WHERE item.item_pid=item_extra.item_pid ;");
    if (!rows) return false;
    while (rows->next()) {
        const auto pid = keyOfColumnAt(*rows, 0);
        if (!pid) continue;
        const std::string_view location = rows->stringViewForColumnIndex(1).value_or("");
        const std::int64_t baseId = rows->longForColumnIndex(3);
        Maps::Place& place = maps.places[*pid];
        place.kindKey = baseId;
        if (baseId == 0) {
            place.location = std::string(location);
        } else if (!NSString::IsEmpty(location)) {
            const auto folder = base.find(rows->stringForColumnIndex(3).value_or(""));
            place.location = foundation::appendingPathComponent(
                folder == base.end() ? std::string() : folder->second, location);
        }
        if (!budget_.copy(kEntryBytes + textBytes(place.location))) break;
    }
    rows->close();
    return true;
}

bool MediaLibraryReader::readGroupLocations(Maps& maps) {
    auto db = openDeviceLibrary(files_.locations, budget_);
    if (!db) {
        if (!failed()) LogError("Failed to open database {}", files_.locations);
        return false;
    }
    std::unordered_map<std::string, std::string> base;
    if (auto rows = db->executeQuery("SELECT * FROM base_location")) {
        while (rows->next()) {
            std::string path = rows->safeStringForColumn("path");
            if (!budget_.copy(kEntryBytes + textBytes(path))) break;
            base[decimal(rows->intForColumn("id"))] = std::move(path);
        }
        rows->close();
    }
    if (auto rows = db->executeQuery("SELECT * FROM location;")) {
        while (rows->next()) {
            const auto pid = keyOfColumn(*rows, "item_pid");
            if (!pid) continue;
            const std::int32_t baseId = rows->intForColumn("base_location_id");
            const std::string location = rows->safeStringForColumn("location");
            Maps::Place& place = maps.places[*pid];
            place.kindKey = baseId;
            std::string& size = maps.size[*pid];
            size = rows->safeStringForColumn("file_size");
            if (baseId == 0) {
                place.location = location;
            } else {
                const auto folder = base.find(decimal(baseId));
                place.location = foundation::appendingPathComponent(
                    folder == base.end() ? std::string() : folder->second, location);
            }
            if (!budget_.copy(2 * kEntryBytes + textBytes(size) + textBytes(place.location))) break;
        }
        rows->close();
    }
    db->close();
    return true;
}

void MediaLibraryReader::readGenresAndKinds(SqlDatabase& db, Maps& maps) {
    const bool group = source_ == Source::LibraryGroup;
    if (auto rows = db.executeQuery(group ? "SELECT * FROM genre_map" : "SELECT * FROM genre;")) {
        const char* idColumn = group ? "id" : "genre_id";
        while (rows->next()) {
            if (const auto id = keyOfColumn(*rows, idColumn)) {
                std::string& genre = maps.genre[*id];
                genre = rows->safeStringForColumn("genre");
                if (!budget_.copy(kEntryBytes + textBytes(genre))) break;
            }
        }
        rows->close();
    }
    const char* query = nullptr;
    const char* idColumn = nullptr;
    if (db.tableExists("location_kind")) {
        query = "SELECT * FROM location_kind";
        idColumn = "location_kind_id";
    } else if (db.tableExists("location_kind_map")) {
        query = "SELECT * FROM location_kind_map";
        idColumn = "id";
    }
    if (query == nullptr) return;
    if (auto rows = db.executeQuery(query)) {
        while (rows->next()) {
            std::string& kind = maps.kind[rows->intForColumn(idColumn)];
            kind = rows->safeStringForColumn("kind");
            if (!budget_.copy(kEntryBytes + textBytes(kind))) break;
        }
        rows->close();
    }
}

std::shared_ptr<SqlResultSet> MediaLibraryReader::runTrackQuery(SqlDatabase& db,
                                                                bool hasMediaType) {
    if (source_ == Source::LibraryGroup) return db.executeQuery("SELECT * FROM item;");
    // Forms that do not fit the tables fail to compile; that is expected, not worth a line.
    const bool logs = db.logsErrors();
    db.setLogsErrors(false);
    std::shared_ptr<SqlResultSet> rows;
    for (std::size_t form = 0; form < kTrackQueryLadder.size() && !rows; ++form) {
        if (form == 2) flags_.iOS8 = true;
        if (form >= 3) flags_.iOS7 = true;
        try {
            rows = form == 0 ? db.executeQuery(firstTrackQuery(hasMediaType))
                             : db.executeQuery(kTrackQueryLadder[form]);
        } catch (const std::exception& e) {
            LogInfo("{}", e.what());
        }
        if (rows && form == 0) flags_.libraryVersion = 9;
    }
    db.setLogsErrors(logs);
    if (!rows && !failed()) LogError("No track query fits the media library {}", files_.library);
    return rows;
}

void MediaLibraryReader::addMembership(SqlDatabase& db) {
    const bool group = source_ == Source::LibraryGroup;
    try {
        const bool logs = db.logsErrors();
        db.setLogsErrors(false);
        auto rows = db.executeQuery(group ? "SELECT * FROM item_to_container"
                                          : "SELECT * FROM container_item;");
        db.setLogsErrors(logs);
        if (!rows) {
            if (!group) addBlobMembership(db);
            return;
        }
        const int container = rows->columnIndexForName("container_pid");
        const int item = rows->columnIndexForName("item_pid");
        while (rows->next()) {
            if (iPodPlaylist* playlist =
                    rawPlaylist(rows->stringViewForColumnIndex(container).value_or(""))) {
                if (!budget_.copy(kIdBytes)) break;
                playlist->trackIDs().emplace_back(rows->longLongIntForColumnIndex(item));
            }
        }
        rows->close();
    } catch (const std::exception&) {
        LogInfo("Error occurs while updating playlist tracks");
    }
}

void MediaLibraryReader::addBlobMembership(SqlDatabase& db) {
    auto rows = db.executeQuery("SELECT * FROM container_items;");
    if (!rows) return;
    const int container = rows->columnIndexForName("container_pid");
    while (rows->next()) {
        iPodPlaylist* playlist =
            rawPlaylist(rows->stringViewForColumnIndex(container).value_or(""));
        if (!playlist) continue;
        const auto blob = rows->dataNoCopyForColumn("item_pid_data");
        if (!blob) continue;
        if (!budget_.copy(blob->size() / 8 * kIdBytes)) break;
        for (std::int64_t id : persistentIdsOfBlob(blob->data(), blob->size())) {
            playlist->trackIDs().emplace_back(id);
        }
    }
    rows->close();
}

bool MediaLibraryReader::setCharged(foundation::Dictionary& record, const char* key, Value value) {
    const auto [entry, added] = record.insert_or_assign(std::string(key), std::move(value));
    return !added || budget_.copy(RecordMemory::entryBytes(entry->first));
}

void MediaLibraryReader::addFormatInfo(SqlDatabase& db, TrackTable& tracks) {
    try {
        const bool logs = db.logsErrors();
        db.setLogsErrors(false);
        auto rows = db.executeQuery("SELECT * FROM avformat_info");
        db.setLogsErrors(logs);
        if (!rows) return;
        while (rows->next()) {
            if (auto* record = tracks.find(keyOfColumn(*rows, "item_pid"))) {
                if (!setCharged(*record, "sampleRate", rows->intForColumn("sample_rate")) ||
                    !setCharged(*record, "bitRate", rows->intForColumn("bit_rate"))) {
                    break;
                }
            }
        }
        rows->close();
    } catch (const std::exception&) {
        LogInfo("Error occurs while updating format info");
    }
}

void MediaLibraryReader::addPlayStatistics(const std::string& path, TrackTable& tracks) {
    auto db = openDeviceLibrary(path, budget_);
    if (!db) return;
    db->setLogsErrors(false);
    if (auto rows = db->executeQuery("SELECT * FROM item_stats")) {
        while (rows->next()) {
            if (auto* record = tracks.find(keyOfColumn(*rows, "item_pid"))) {
                if (!setCharged(*record, "stars", rows->intForColumn("user_rating")) ||
                    !setCharged(*record, "playCount", rows->intForColumn("play_count_user"))) {
                    break;
                }
            }
        }
        rows->close();
    }
    db->close();
}

foundation::Array MediaLibraryReader::loadTracks(const TrackSteps& steps) {
    if (failed()) return {};
    const bool group = source_ == Source::LibraryGroup;
    Maps maps;
    TrackTable tracks;
    std::shared_ptr<SqlDatabase> db;
    if (group) {
        if (readGroupLocations(maps)) {
            db = openDeviceLibrary(files_.library, budget_);
            if (!db && !failed()) LogError("Failed to open database {}", files_.library);
        }
        if (!db) unreadable_ = "its database does not open";
    } else {
        db = openDeviceLibrary(files_.library, budget_);
        LogInfo("{}", SqlDatabase::sqliteLibVersion());
        if (!db && !failed()) LogError("Failed to open database {}", files_.library);
        if (!db) unreadable_ = "its database does not open";
        if (db && !readLocations(*db, maps) && !failed()) {
            LogError("The media library {} has no item locations: {}", files_.library,
                     db->lastErrorMessage());
            unreadable_ = "its database cannot be read (" + db->lastErrorMessage() + ")";
        }
    }
    if (db) {
        const bool hasMediaType = db->columnExistsInTableWithName("media_type", "item");
        bool hasArtwork = false;
        if (auto rows = db->executeQuery("SELECT * from sqlite_master where name='artwork';")) {
            hasArtwork = rows->next();
            rows->close();
        }
        readGenresAndKinds(*db, maps);
        tracks.reserve(maps.places.size());
        if (auto rows = runTrackQuery(*db, hasMediaType)) {
            const MediaLibraryRows reader(group ? MediaLibraryRows::Shape::LibraryGroup
                                                : MediaLibraryRows::Shape::MediaLibrary,
                                          *rows);
            const bool byEntity = flags_.libraryVersion == 9;
            std::optional<ArtworkPathLookup> artwork;
            if (hasArtwork) {
                artwork.emplace(*db, byEntity ? kArtworkByEntityQuery : kArtworkByTokenQuery);
            }
            while (rows->next()) {
                // A damaged file can yield rows without end, each cheap for SQLite but not
                // for us: every record counts against the budget too.
                if (!budget_.spend(kInstructionsPerRecord)) break;
                try {
                    const std::int64_t key = reader.pid();
                    MediaLibraryRows::Joined joined;
                    const auto found = maps.places.find(key);
                    const Maps::Place* place =
                        found == maps.places.end() ? nullptr : &found->second;
                    if (place) {
                        joined.location = place->location;
                        if (auto kind = maps.kind.find(place->kindKey); kind != maps.kind.end()) {
                            joined.fileType = &kind->second;
                        }
                    }
                    if (group) {
                        // The text as Locations.itdb stores it; none without a location row.
                        if (auto size = maps.size.find(key); size != maps.size.end()) {
                            joined.size = size->second;
                        }
                    }
                    if (hasMediaType) joined.mediaType = reader.mediaType();
                    if (auto genre = maps.genre.find(reader.genreId()); genre != maps.genre.end()) {
                        joined.genre = &genre->second;
                    }
                    if (artwork && artwork->usable()) {
                        joined.artworkPath =
                            artwork->pathFor(byEntity ? key : reader.artworkCacheId());
                    }
                    Value value = reader.record(std::move(joined));
                    if (!budget_.copy(kTrackSlotBytes + RecordMemory::ownedBytes(value))) break;
                    tracks.put(key, std::move(value));
                } catch (const std::exception& e) {
                    LogInfo("{}", e.what());
                }
            }
            rows->close();
        }
        if (steps.membership) {
            steps.membership(*db);
        } else {
            addMembership(*db);
        }
        if (group && steps.formatInfo) {
            steps.formatInfo(*db, tracks);
        } else if (group) {
            addFormatInfo(*db, tracks);
        }
        db->close();
    }
    if (group && steps.playStatistics) {
        steps.playStatistics(files_.dynamic, tracks);
    } else if (group) {
        addPlayStatistics(files_.dynamic, tracks);
    }
    if (failed()) {
        for (const auto& playlist : playlists_) playlist->trackIDs().clear();
        playlists_.clear();
        rawPlaylists_.clear();
        return {};
    }
    return tracks.take();
}

}  // namespace media
