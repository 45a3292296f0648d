#include "platform/music/MusicLibrary.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "data/db/SqlDatabase.h"
#include "foundation/Paths.h"
#include "foundation/Utf8.h"
#include "platform/music/LibraryFiles.h"
#include "platform/music/M3u8Playlist.h"
#include "platform/music/PersistentID.h"

namespace music {

namespace {

using foundation::Value;

// Hidden, so that players scanning the Music folder pass it by.
constexpr const char* kStagingFolder = ".orvandel-staging";

constexpr const char* kSchema = R"SQL(
CREATE TABLE IF NOT EXISTS tracks (
  id INTEGER PRIMARY KEY,
  pid TEXT NOT NULL UNIQUE,
  path TEXT NOT NULL UNIQUE,
  placed INTEGER NOT NULL DEFAULT 0,
  title TEXT NOT NULL DEFAULT '',
  artist TEXT NOT NULL DEFAULT '',
  album TEXT NOT NULL DEFAULT '',
  genre TEXT NOT NULL DEFAULT '',
  album_artist TEXT NOT NULL DEFAULT '',
  composer TEXT NOT NULL DEFAULT '',
  comment TEXT NOT NULL DEFAULT '',
  description TEXT NOT NULL DEFAULT '',
  description_long TEXT NOT NULL DEFAULT '',
  play_count INTEGER NOT NULL DEFAULT 0,
  rating INTEGER NOT NULL DEFAULT 0,
  year INTEGER NOT NULL DEFAULT 0,
  track_number INTEGER NOT NULL DEFAULT 0,
  track_count INTEGER NOT NULL DEFAULT 0,
  disc_number INTEGER NOT NULL DEFAULT 0,
  disc_count INTEGER NOT NULL DEFAULT 0,
  added REAL NOT NULL DEFAULT 0);
CREATE INDEX IF NOT EXISTS tracks_by_tags
  ON tracks (title COLLATE NOCASE, artist COLLATE NOCASE, album COLLATE NOCASE);
CREATE TABLE IF NOT EXISTS playlists (
  id INTEGER PRIMARY KEY,
  pid TEXT NOT NULL UNIQUE,
  name TEXT NOT NULL UNIQUE COLLATE NOCASE,
  file TEXT UNIQUE,
  file_digest TEXT);
CREATE TABLE IF NOT EXISTS playlist_tracks (
  playlist_id INTEGER NOT NULL REFERENCES playlists (id) ON DELETE CASCADE,
  position INTEGER NOT NULL,
  track_id INTEGER NOT NULL REFERENCES tracks (id) ON DELETE CASCADE,
  PRIMARY KEY (playlist_id, position));
CREATE INDEX IF NOT EXISTS playlist_tracks_by_track ON playlist_tracks (track_id);
)SQL";

std::string fileStem(const std::string& path) {
    const auto slash = path.rfind('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const auto dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

std::string extensionOf(const std::string& path) {
    const auto slash = path.rfind('/');
    const auto dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash + 2)) return {};
    return path.substr(dot + 1);
}

double now() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

// Runs the block in a transaction: committed when it answers true, else rolled back.
bool inTransaction(SqlDatabase& db, const std::function<bool()>& block) {
    if (!db.beginTransaction()) return false;
    if (block() && db.commit()) return true;
    db.rollback();
    return false;
}

// Indexes made before playlists had file names of their own get the column. Such a library
// wrote each playlist to "<safe name>.m3u8", so the earliest playlist of each safe name
// keeps that file as its own; the others take a free name when next written.
bool addPlaylistFileColumn(SqlDatabase& db) {
    if (db.columnExistsInTableWithName("file", "playlists")) return true;
    return inTransaction(db, [&] {
        if (!db.executeStatements(
                "ALTER TABLE playlists ADD COLUMN file TEXT;"
                "CREATE UNIQUE INDEX IF NOT EXISTS playlists_by_file ON playlists (file);")) {
            return false;
        }
        std::vector<std::pair<std::int64_t, std::string>> rows;
        auto rs = db.executeQuery("SELECT id, name FROM playlists ORDER BY id");
        while (rs && rs->next())
            rows.emplace_back(rs->longForColumnIndex(0), rs->safeStringForColumn("name"));
        for (const auto& [row, name] : rows) {
            const std::string file = TrackFilePattern::safeComponent(name) + ".m3u8";
            if (db.longForQuery("SELECT COUNT(*) FROM playlists WHERE file = ?", file) != 0)
                continue;
            if (!db.executeUpdate("UPDATE playlists SET file = ? WHERE id = ?", file, row))
                return false;
        }
        return !db.hadError();
    });
}

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// The text of a playlist's file as the index has it now.
std::string playlistText(SqlDatabase& db, std::int64_t row) {
    std::vector<M3u8Playlist::Entry> entries;
    auto rs = db.executeQuery(
        "SELECT t.path, t.artist, t.title FROM playlist_tracks JOIN tracks t ON t.id = track_id "
        "WHERE playlist_id = ? ORDER BY position",
        row);
    while (rs && rs->next()) {
        entries.push_back({rs->safeStringForColumn("path"), rs->safeStringForColumn("artist"),
                           rs->safeStringForColumn("title")});
    }
    return M3u8Playlist::render(entries);
}

std::span<const std::uint8_t> bytesOf(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Indexes made before the library kept what it wrote get the column. The file at a
// playlist's name is taken as the library's own where it holds just what the library
// would write for the playlist now; any other file there is left to its owner.
bool addPlaylistDigestColumn(SqlDatabase& db, const std::string& mediaFolder) {
    if (db.columnExistsInTableWithName("file_digest", "playlists")) return true;
    return inTransaction(db, [&] {
        if (!db.executeStatements("ALTER TABLE playlists ADD COLUMN file_digest TEXT;"))
            return false;
        std::vector<std::pair<std::int64_t, std::string>> rows;
        auto rs = db.executeQuery("SELECT id, file FROM playlists WHERE file IS NOT NULL");
        while (rs && rs->next())
            rows.emplace_back(rs->longForColumnIndex(0), rs->safeStringForColumn("file"));
        for (const auto& [row, file] : rows) {
            const auto found = LibraryFiles::digestOfFile(mediaFolder + "/Playlists/" + file);
            const std::string expected = LibraryFiles::digestOf(bytesOf(playlistText(db, row)));
            if (found != expected) continue;
            if (!db.executeUpdate("UPDATE playlists SET file_digest = ? WHERE id = ?", expected,
                                  row))
                return false;
        }
        return !db.hadError();
    });
}

// Whether anything, a dangling link too, has this name.
bool nameTaken(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 || errno != ENOENT;
}

// The folder's real path; for a folder not made yet, its parent's real path and its name,
// so that files found inside it later compare equal.
std::string canonicalFolder(const std::string& folder) {
    if (auto real = LibraryFiles::canonicalPath(folder)) return *real;
    const auto slash = folder.find_last_not_of('/') == std::string::npos
                           ? std::string::npos
                           : folder.rfind('/', folder.find_last_not_of('/'));
    if (slash == std::string::npos || slash == 0) return folder;
    const auto parent = LibraryFiles::canonicalPath(folder.substr(0, slash));
    return parent ? *parent + folder.substr(slash) : folder;
}

}  // namespace

std::shared_ptr<MusicLibrary> MusicLibrary::open(MusicLibraryLocation location,
                                                 std::string* error) {
    // The media folder (the person's Music folder) is made only when a file goes into it.
    const auto slash = location.indexPath.rfind('/');
    if (slash != std::string::npos &&
        !foundation::Paths::ensureDirectory(location.indexPath.substr(0, slash), error)) {
        return nullptr;
    }
    auto db = SqlDatabase::databaseWithPath(location.indexPath);
    db->setLogsErrors(false);
    auto folder = canonicalFolder(location.mediaFolder);
    if (!db->open() || !db->executeStatements("PRAGMA foreign_keys = ON;") ||
        !db->executeStatements(kSchema) || !addPlaylistFileColumn(*db) ||
        !addPlaylistDigestColumn(*db, folder)) {
        if (error) *error = "cannot open the library index: " + db->lastErrorMessage();
        return nullptr;
    }
    db->setShouldCacheStatements(true);
    // Copies an earlier run left unfinished.
    LibraryFiles::emptyFolder(folder + "/" + kStagingFolder);
    ::rmdir((folder + "/" + kStagingFolder).c_str());
    return std::shared_ptr<MusicLibrary>(
        new MusicLibrary(std::move(location), std::move(db), std::move(folder)));
}

MusicLibrary::MusicLibrary(MusicLibraryLocation location, std::shared_ptr<SqlDatabase> db,
                           std::string mediaFolder)
    : location_(std::move(location)), db_(std::move(db)), mediaFolder_(std::move(mediaFolder)) {}

MusicLibrary::~MusicLibrary() {
    db_->close();
}

TrackFilePattern MusicLibrary::currentPattern() const {
    return TrackFilePattern(location_.filePattern ? location_.filePattern() : std::string());
}

std::optional<std::int64_t> MusicLibrary::trackRow(const std::string& persistentID) {
    const std::string pid = PersistentID::normalized(persistentID);
    if (pid.empty()) return std::nullopt;
    auto rs = db_->executeQuery("SELECT id FROM tracks WHERE pid = ?", pid);
    if (!rs || !rs->next()) return std::nullopt;
    const std::int64_t row = rs->longForColumnIndex(0);
    rs->close();
    return row;
}

std::optional<std::int64_t> MusicLibrary::playlistRow(const std::string& name) {
    auto rs = db_->executeQuery("SELECT id FROM playlists WHERE name = ?", name);
    if (!rs || !rs->next()) return std::nullopt;
    const std::int64_t row = rs->longForColumnIndex(0);
    rs->close();
    return row;
}

std::optional<std::string> MusicLibrary::unusedPersistentID(const char* table) {
    const std::string query = std::string("SELECT COUNT(*) FROM ") + table + " WHERE pid = ?";
    for (int attempt = 0; attempt < 8; ++attempt) {
        std::string pid = PersistentID::make();
        if (db_->longForQuery(query, pid) == 0 && !db_->hadError()) return pid;
    }
    return std::nullopt;
}

std::optional<std::string> MusicLibrary::importFile(const std::string& path, std::string* error) {
    std::lock_guard lock(mutex_);
    const auto source = LibraryFiles::canonicalPath(path);
    if (!source || !LibraryFiles::isRegularFile(*source)) {
        if (error) *error = "no file at " + path;
        return std::nullopt;
    }
    // The index and the playlist files hold paths as UTF-8 text.
    if (!foundation::utf8::isValid(*source)) {
        if (error) *error = "the file name is not UTF-8: " + foundation::utf8::sanitize(*source);
        return std::nullopt;
    }
    if (auto known = db_->stringForQuery("SELECT pid FROM tracks WHERE path = ?", *source)) {
        return known;
    }
    const auto pid = unusedPersistentID("tracks");
    if (!pid) {
        if (error) *error = "cannot read the library index: " + db_->lastErrorMessage();
        return std::nullopt;
    }

    // A file the user keeps in the library folder is listed in place; others are copied
    // there, under a name taken only once the copy is whole.
    const bool inPlace = LibraryFiles::isInside(*source, mediaFolder_);
    std::string placedPath = *source;
    if (!inPlace) {
        TrackTags tags;
        tags.title = fileStem(*source);
        const std::string wanted =
            mediaFolder_ + "/" + currentPattern().relativePathFor(tags, extensionOf(*source));
        auto copy = LibraryFiles::copyToFreeName(*source, wanted, stagingFolder(), error,
                                                 location_.link);
        // The staging folder is there only while a copy is on its way.
        ::rmdir(stagingFolder().c_str());
        if (!copy) {
            LibraryFiles::removeEmptyFolders(folderOf(wanted), mediaFolder_);
            return std::nullopt;
        }
        placedPath = *copy;
    }
    std::string reason;
    const bool listed = inTransaction(*db_, [&] {
        const bool inserted = db_->executeUpdate(
            "INSERT INTO tracks (pid, path, placed, title, added) VALUES (?, ?, ?, ?, ?)", *pid,
            placedPath, inPlace ? 0 : 1, fileStem(*source), now());
        if (!inserted) reason = db_->lastErrorMessage();
        return inserted;
    });
    if (!listed) {
        if (error) *error = "cannot add the track to the library index: " + reason;
        if (!inPlace) removePlacedFile(placedPath);
        return std::nullopt;
    }
    return pid;
}

std::string MusicLibrary::updateMetadata(const std::string& persistentID, const TrackMetadata& m) {
    std::lock_guard lock(mutex_);
    const auto row = trackRow(persistentID);
    if (!row) return "no track with the persistent id \"" + persistentID + "\"";
    const std::string before = playlistLine(*row);
    const bool updated = inTransaction(*db_, [&] {
        return db_->executeUpdate(
            "UPDATE tracks SET "
            "title = CASE WHEN ?1 = '' THEN title ELSE ?1 END, "
            "artist = CASE WHEN ?2 = '' THEN artist ELSE ?2 END, "
            "album = CASE WHEN ?3 = '' THEN album ELSE ?3 END, "
            "genre = CASE WHEN ?4 = '' THEN genre ELSE ?4 END, "
            "album_artist = CASE WHEN ?5 = '' THEN album_artist ELSE ?5 END, "
            "composer = CASE WHEN ?6 = '' THEN composer ELSE ?6 END, "
            "comment = CASE WHEN ?7 = '' THEN comment ELSE ?7 END, "
            "description = CASE WHEN ?8 = '' THEN description ELSE ?8 END, "
            "description_long = CASE WHEN ?9 = '' THEN description_long ELSE ?9 END, "
            "play_count = CASE WHEN ?10 = 0 THEN play_count ELSE ?10 END, "
            "rating = CASE WHEN ?11 = 0 THEN rating ELSE ?11 END, "
            "year = CASE WHEN ?12 = 0 THEN year ELSE ?12 END, "
            "track_number = CASE WHEN ?13 = 0 THEN track_number ELSE ?13 END, "
            "track_count = CASE WHEN ?14 = 0 THEN track_count ELSE ?14 END, "
            "disc_number = CASE WHEN ?15 = 0 THEN disc_number ELSE ?15 END, "
            "disc_count = CASE WHEN ?16 = 0 THEN disc_count ELSE ?16 END "
            "WHERE id = ?17",
            m.title, m.artist, m.album, m.genre, m.albumArtist, m.composer, m.comment,
            m.description, m.longDescription, m.playCount, m.stars, m.year, m.trackNumber,
            m.totalTracks, m.discNumber, m.discCount, *row);
    });
    if (!updated) return "cannot update the library index: " + db_->lastErrorMessage();
    auto rs = db_->executeQuery("SELECT path, placed FROM tracks WHERE id = ?", *row);
    if (rs && rs->next()) {
        const std::string path = rs->safeStringForColumn("path");
        const bool placed = rs->boolForColumnIndex(1);
        rs->close();
        if (placed) placeByTags(*row, path);
    }
    // Playlist files list the path, artist and title: rewritten only when one changed.
    if (playlistLine(*row) != before) rewritePlaylistsOf(*row);
    return {};
}

std::string MusicLibrary::playlistLine(std::int64_t row) {
    auto rs = db_->executeQuery("SELECT path, artist, title FROM tracks WHERE id = ?", row);
    if (!rs || !rs->next()) return {};
    std::string line = rs->safeStringForColumn("path") + '\n' +
                       rs->safeStringForColumn("artist") + '\n' + rs->safeStringForColumn("title");
    rs->close();
    return line;
}

// Moves a file the library placed to where its tags now put it. The file gets its new name
// before the index points there and keeps its old one until the index has changed, so the
// listed path always names the file.
void MusicLibrary::placeByTags(std::int64_t row, const std::string& path) {
    auto rs = db_->executeQuery(
        "SELECT title, artist, album, genre, track_number, year FROM tracks WHERE id = ?", row);
    if (!rs || !rs->next()) return;
    TrackTags tags{rs->safeStringForColumn("title"), rs->safeStringForColumn("artist"),
                   rs->safeStringForColumn("album"), rs->safeStringForColumn("genre"),
                   rs->intForColumn("track_number"), rs->intForColumn("year")};
    rs->close();
    const std::string wanted =
        mediaFolder_ + "/" + currentPattern().relativePathFor(tags, extensionOf(path));
    // "Intro 2.m4a" is where these tags put it while "Intro.m4a" is taken; once that name
    // (or a lower number) is free, the file takes it.
    const auto number = LibraryFiles::freeNameNumber(path, wanted);
    if (number == 1) return;
    const auto moved =
        LibraryFiles::linkToFreeName(path, wanted, nullptr, number ? *number - 1 : 1000,
                                     location_.link);
    if (!moved) return;  // the file keeps its place; the tags are in
    const bool listed = inTransaction(*db_, [&] {
        return db_->executeUpdate("UPDATE tracks SET path = ? WHERE id = ?", *moved, row);
    });
    removePlacedFile(listed ? path : *moved);
}

void MusicLibrary::removePlacedFile(const std::string& path) {
    ::unlink(path.c_str());
    LibraryFiles::removeEmptyFolders(folderOf(path), mediaFolder_);
}

std::string MusicLibrary::setRating(const std::string& persistentID, std::int32_t rating) {
    std::lock_guard lock(mutex_);
    const auto row = trackRow(persistentID);
    if (!row) return "no track with the persistent id \"" + persistentID + "\"";
    if (rating < 0 || rating > 100) return "a rating is from 0 to 100";
    if (!db_->executeUpdate("UPDATE tracks SET rating = ? WHERE id = ?", rating, *row))
        return "cannot update the library index: " + db_->lastErrorMessage();
    return {};
}

std::optional<std::string> MusicLibrary::createPlaylist(const std::string& name) {
    std::lock_guard lock(mutex_);
    if (name.empty()) return std::nullopt;
    if (auto known = db_->stringForQuery("SELECT pid FROM playlists WHERE name = ?", name))
        return known;
    const auto pid = unusedPersistentID("playlists");
    if (!pid || !db_->executeUpdate("INSERT INTO playlists (pid, name) VALUES (?, ?)", *pid, name))
        return std::nullopt;
    writePlaylistFile(db_->lastInsertRowId());
    return pid;
}

std::string MusicLibrary::addToPlaylist(const std::string& playlist,
                                        const std::string& persistentID) {
    std::lock_guard lock(mutex_);
    if (playlist.empty()) return "no playlist name";
    const auto track = trackRow(persistentID);
    if (!track) return "no track with the persistent id \"" + persistentID + "\"";
    if (!createPlaylist(playlist)) return "cannot make the playlist: " + db_->lastErrorMessage();
    const auto list = playlistRow(playlist);
    if (!list) return "cannot read the library index: " + db_->lastErrorMessage();
    if (db_->longForQuery(
            "SELECT COUNT(*) FROM playlist_tracks WHERE playlist_id = ? AND track_id = ?", *list,
            *track) > 0) {
        return {};
    }
    if (!db_->executeUpdate("INSERT INTO playlist_tracks (playlist_id, position, track_id) VALUES "
                            "(?1, (SELECT IFNULL(MAX(position), 0) + 1 FROM playlist_tracks WHERE "
                            "playlist_id = ?1), ?2)",
                            *list, *track)) {
        return "cannot update the library index: " + db_->lastErrorMessage();
    }
    if (!writePlaylistFile(*list)) return "cannot write the playlist file of \"" + playlist + "\"";
    return {};
}

std::optional<LibraryTrack> MusicLibrary::findTrack(const std::string& persistentID,
                                                    const std::string& title,
                                                    const std::string& artist,
                                                    const std::string& album) {
    std::lock_guard lock(mutex_);
    SqlDatabase::ResultSet rs;
    if (!persistentID.empty()) {
        const std::string pid = PersistentID::normalized(persistentID);
        if (pid.empty()) return std::nullopt;
        rs = db_->executeQuery("SELECT pid, path, title, artist, album FROM tracks WHERE pid = ?",
                               pid);
    } else {
        rs = db_->executeQuery(
            "SELECT pid, path, title, artist, album FROM tracks WHERE title = ? COLLATE NOCASE "
            "AND artist = ? COLLATE NOCASE AND album = ? COLLATE NOCASE ORDER BY id LIMIT 1",
            title, artist, album);
    }
    if (!rs || !rs->next()) return std::nullopt;
    LibraryTrack track{rs->safeStringForColumn("pid"), rs->safeStringForColumn("path"),
                       rs->safeStringForColumn("title"), rs->safeStringForColumn("artist"),
                       rs->safeStringForColumn("album")};
    rs->close();
    return track;
}

std::optional<std::string> MusicLibrary::trackPath(const std::string& persistentID) {
    std::lock_guard lock(mutex_);
    const std::string pid = PersistentID::normalized(persistentID);
    if (pid.empty()) return std::nullopt;
    return db_->stringForQuery("SELECT path FROM tracks WHERE pid = ?", pid);
}

bool MusicLibrary::playlistHasTrack(const std::string& playlist, const std::string& persistentID) {
    std::lock_guard lock(mutex_);
    const std::string pid = PersistentID::normalized(persistentID);
    return !pid.empty() &&
           db_->longForQuery(
               "SELECT COUNT(*) FROM playlist_tracks JOIN playlists p ON p.id = playlist_id "
               "JOIN tracks t ON t.id = track_id WHERE p.name = ? AND t.pid = ?",
               playlist, pid) > 0;
}

bool MusicLibrary::playlistHasTrackTagged(const std::string& playlist, const std::string& title,
                                          const std::string& artist, const std::string& album) {
    std::lock_guard lock(mutex_);
    return db_->longForQuery(
               "SELECT COUNT(*) FROM playlist_tracks JOIN playlists p ON p.id = playlist_id "
               "JOIN tracks t ON t.id = track_id WHERE p.name = ? AND t.title = ? COLLATE NOCASE "
               "AND t.artist = ? COLLATE NOCASE AND t.album = ? COLLATE NOCASE",
               playlist, title, artist, album) > 0;
}

std::int64_t MusicLibrary::trackCount() {
    std::lock_guard lock(mutex_);
    return db_->longForQuery("SELECT COUNT(*) FROM tracks");
}

std::vector<PlaylistSummary> MusicLibrary::playlists() {
    std::lock_guard lock(mutex_);
    std::vector<PlaylistSummary> lists;
    auto rs = db_->executeQuery(
        "SELECT pid, name, (SELECT COUNT(*) FROM playlist_tracks WHERE playlist_id = p.id) "
        "FROM playlists p ORDER BY name COLLATE NOCASE");
    while (rs && rs->next()) {
        lists.push_back({rs->safeStringForColumn("pid"), rs->safeStringForColumn("name"),
                         rs->longForColumnIndex(2)});
    }
    return lists;
}

std::string MusicLibrary::stagingFolder() const {
    return mediaFolder_ + "/" + kStagingFolder;
}

std::optional<std::string> MusicLibrary::playlistFilePath(const std::string& name) {
    std::lock_guard lock(mutex_);
    const auto row = playlistRow(name);
    if (!row) return std::nullopt;
    const auto file = playlistFileName(*row);
    if (!file) return std::nullopt;
    const std::string path = mediaFolder_ + "/Playlists/" + *file;
    const auto lastWritten = db_->stringForQuery("SELECT file_digest FROM playlists WHERE id = ?", *row);
    if (!lastWritten || LibraryFiles::digestOfFile(path) != lastWritten) {
        if (!writePlaylistFile(*row)) return std::nullopt;
        return mediaFolder_ + "/Playlists/" + playlistFileName(*row).value_or(*file);
    }
    return path;
}

// Names that differ only in characters a file name cannot hold ("Rock/Pop", "RockPop") share
// a safe name; the playlist made later takes the next numbered one, kept in the index so that
// it stays with that playlist. A name some file already has (a person's own playlist) is
// passed over too: the library replaces only files it wrote.
std::optional<std::string> MusicLibrary::playlistFileName(std::int64_t row) {
    if (auto kept = db_->stringForQuery("SELECT file FROM playlists WHERE id = ?", row);
        kept && !kept->empty()) {
        return kept;
    }
    const auto name = db_->stringForQuery("SELECT name FROM playlists WHERE id = ?", row);
    if (!name) return std::nullopt;
    const std::string wanted = TrackFilePattern::safeComponent(*name) + ".m3u8";
    for (int number = 1; number <= 1000; ++number) {
        const std::string file = LibraryFiles::numberedName(wanted, number);
        if (db_->longForQuery("SELECT COUNT(*) FROM playlists WHERE file = ?", file) != 0) continue;
        if (db_->hadError()) return std::nullopt;
        if (nameTaken(mediaFolder_ + "/Playlists/" + file)) continue;
        if (!db_->executeUpdate("UPDATE playlists SET file = ? WHERE id = ?", file, row))
            return std::nullopt;
        return file;
    }
    return std::nullopt;
}

bool MusicLibrary::writePlaylistFile(std::int64_t row) {
    if (!foundation::Paths::ensureDirectory(mediaFolder_ + "/Playlists")) return false;
    const std::string text = playlistText(*db_, row);
    // Each round that finds another program's file at the name moves on to a free one.
    for (int round = 0; round < 16; ++round) {
        const auto fileName = playlistFileName(row);
        if (!fileName) return false;
        const auto lastWritten =
            db_->stringForQuery("SELECT file_digest FROM playlists WHERE id = ?", row);
        const std::string file = mediaFolder_ + "/Playlists/" + *fileName;
        std::string reason;
        switch (LibraryFiles::writeOwnFile(file, bytesOf(text), lastWritten, &reason,
                                           location_.link)) {
            case LibraryFiles::Written::Yes:
                return db_->executeUpdate("UPDATE playlists SET file_digest = ? WHERE id = ?",
                                          LibraryFiles::digestOf(bytesOf(text)), row);
            case LibraryFiles::Written::NameTaken:
                if (!db_->executeUpdate(
                        "UPDATE playlists SET file = NULL, file_digest = NULL WHERE id = ?", row))
                    return false;
                break;
            case LibraryFiles::Written::Failed:
                return false;
        }
    }
    return false;
}

void MusicLibrary::rewritePlaylistsOf(std::int64_t track) {
    std::vector<std::int64_t> rows;
    auto rs = db_->executeQuery(
        "SELECT DISTINCT playlist_id FROM playlist_tracks WHERE track_id = ?", track);
    while (rs && rs->next()) rows.push_back(rs->longForColumnIndex(0));
    for (auto row : rows) writePlaylistFile(row);
}

}  // namespace music
