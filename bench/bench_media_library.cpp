// Reading the playlists and tracks of a 50,000-track media library as a device keeps it,
// beside two peers running the same queries (the track query, the location, genre and kind
// maps, one artwork lookup per track, the playlist membership): SQLite's C calls with each
// query prepared once and stepped, every value copied out, and the sqlite3 shell writing
// the rows out. Each case gives the rise of the peak resident size ("peak_MiB"; the shell's
// is its own peak). The final lines give our time / each peer's time.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BaselineReport.h"
#include "MediaLibraryPeer.h"
#include "PeakMemory.h"
#include "media/MediaLibraryQueries.h"
#include "media/MediaLibraryReader.h"

namespace {

constexpr int kTracks = 50000;

std::string& folder() {
    static std::string path;
    return path;
}
std::string databasePath() {
    return folder() + "/MediaLibrary.sqlitedb";
}
std::string scriptPath() {
    return folder() + "/queries.sql";
}

void run(sqlite3* db, const std::string& sql) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        std::fprintf(stderr, "%s\n", message ? message : "sqlite3_exec failed");
        std::abort();
    }
}

void makeLibrary() {
    std::string path = (std::filesystem::temp_directory_path() / "orvandel-bench-XXXXXX").string();
    if (mkdtemp(path.data()) == nullptr) std::abort();
    folder() = path;
    sqlite3* db = nullptr;
    sqlite3_open(databasePath().c_str(), &db);
    const std::string n = std::to_string(kTracks);
    const std::string series =
        "WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < ";
    run(db,
        "PRAGMA synchronous=OFF; BEGIN;"
        "CREATE TABLE item (item_pid INTEGER PRIMARY KEY, media_type INTEGER, in_my_library "
        "INTEGER, media_kind INTEGER, base_location_id INTEGER, album_artist_pid INTEGER, "
        "item_artist_pid INTEGER, album_pid INTEGER, composer_pid INTEGER, genre_id INTEGER, "
        "track_number INTEGER, track_count INTEGER, disc_number INTEGER, disc_count INTEGER, "
        "is_compilation INTEGER, year INTEGER);"
        "CREATE TABLE item_extra (item_pid INTEGER PRIMARY KEY, title TEXT, total_time_ms INTEGER, "
        "location TEXT, file_size INTEGER, content_rating INTEGER, content_rating_level INTEGER, "
        "category_id INTEGER, comment TEXT, grouping TEXT, description TEXT, description_long "
        "TEXT, is_audible_audio_book INTEGER, artwork_cache_id INTEGER);"
        "CREATE TABLE album_artist (album_artist_pid INTEGER PRIMARY KEY, album_artist TEXT);"
        "CREATE TABLE item_artist (item_artist_pid INTEGER PRIMARY KEY, item_artist TEXT);"
        "CREATE TABLE album (album_pid INTEGER PRIMARY KEY, album TEXT);"
        "CREATE TABLE composer (composer_pid INTEGER PRIMARY KEY, composer TEXT);"
        "CREATE TABLE item_stats (item_pid INTEGER PRIMARY KEY, user_rating INTEGER, "
        "play_count_user INTEGER);"
        "CREATE TABLE item_playback (item_pid INTEGER PRIMARY KEY, sample_rate INTEGER, "
        "bit_rate INTEGER);"
        "CREATE TABLE base_location (base_location_id INTEGER PRIMARY KEY, path TEXT);"
        "CREATE TABLE genre (genre_id INTEGER PRIMARY KEY, genre TEXT);"
        "CREATE TABLE location_kind (location_kind_id INTEGER PRIMARY KEY, kind TEXT);"
        "CREATE TABLE container (container_pid INTEGER PRIMARY KEY, name TEXT, is_hidden INTEGER, "
        "smart_is_dynamic INTEGER, smart_is_genius INTEGER);"
        "CREATE TABLE container_item (container_pid INTEGER, item_pid INTEGER);"
        "CREATE TABLE artwork (artwork_token TEXT PRIMARY KEY, relative_path TEXT);"
        "CREATE TABLE artwork_token (artwork_token TEXT, entity_pid INTEGER);"
        "CREATE INDEX artwork_token_entity ON artwork_token (entity_pid);"
        "INSERT INTO base_location VALUES (1, 'iTunes_Control/Music');"
        "INSERT INTO location_kind VALUES (1, 'MPEG audio file');" +
            series + "20) INSERT INTO genre SELECT i, 'Genre ' || i FROM c;" + series +
            "1000) INSERT INTO item_artist SELECT i, 'Artist ' || i FROM c;" + series +
            "4000) INSERT INTO album SELECT i, 'Album ' || i FROM c;" + series +
            "200) INSERT INTO album_artist SELECT i, 'Album artist ' || i FROM c;" + series +
            "200) INSERT INTO composer SELECT i, 'Composer ' || i FROM c;" + series + n +
            ") INSERT INTO item SELECT 1000000 + i, 1, 1, 1, 1, i % 200 + 1, i % 1000 + 1, "
            "i % 4000 + 1, i % 200 + 1, i % 20 + 1, i % 12, 12, 1, 1, 0, 1990 + i % 30 FROM c;" +
            series + n +
            ") INSERT INTO item_extra SELECT 1000000 + i, 'Track title ' || i, 180000 + i, "
            "'F' || (i % 50) || '/track' || i || '.mp3', 5000000 + i, 0, 0, 0, '', '', '', '', 0, "
            "i "
            "FROM c;" +
            series + n + ") INSERT INTO item_stats SELECT 1000000 + i, i % 100, i % 17 FROM c;" +
            series + n + ") INSERT INTO item_playback SELECT 1000000 + i, 44100, 256 FROM c;" +
            series + n + ") INSERT INTO artwork SELECT 'tok' || i, 'ab/' || i || '.jpg' FROM c;" +
            series + n + ") INSERT INTO artwork_token SELECT 'tok' || i, 1000000 + i FROM c;" +
            series +
            "50) INSERT INTO container SELECT i, 'Playlist ' || i, 0, i % 5 = 0, 0 FROM c;" +
            series + "100000) INSERT INTO container_item SELECT i % 50 + 1, 1000000 + i % " + n +
            " + 1 FROM c; COMMIT;");
    sqlite3_close(db);

    // The same queries for the shell, in the order the reader runs them.
    std::ofstream script(scriptPath());
    script
        << "SELECT * FROM container WHERE is_hidden=0;\n"
           "SELECT * FROM base_location;\n"
           "SELECT item.item_pid, item_extra.location, item_extra.file_size, "
           "item.base_location_id FROM item, item_extra WHERE item.item_pid=item_extra.item_pid ;\n"
           "PRAGMA table_info('item');\n"
           "SELECT * from sqlite_master where name='artwork';\n"
           "SELECT * FROM genre;\n"
           "SELECT name FROM sqlite_master WHERE type='table' AND lower(name)='location_kind';\n"
           "SELECT * FROM location_kind;\n"
        << media::firstTrackQuery(true) << "\n";
    for (int i = 1; i <= kTracks; ++i) {
        script
            << "SELECT relative_path FROM artwork LEFT JOIN artwork_token ON "
               "artwork.artwork_token=artwork_token.artwork_token WHERE artwork_token.entity_pid="
            << 1000000 + i << ";\n";
    }
    script << "SELECT * FROM container_item;\n";
}

void BM_MediaLibraryReader(benchmark::State& state) {
    double peak = 0;
    for (auto _ : state) {
        const bench::PeakRise rise;
        media::MediaLibraryFlags flags;
        media::MediaLibraryReader reader(media::MediaLibraryReader::Source::MediaLibrary,
                                         {databasePath(), "", ""}, flags);
        reader.loadPlaylists();
        const auto tracks = reader.loadTracks();
        if (tracks.size() != kTracks || !tracks[0]["artwork_relative_path"].isString())
            state.SkipWithError("wrong tracks");
        peak = std::max(peak, rise.mebibytes());
    }
    state.counters["peak_MiB"] = peak;
}
BENCHMARK(BM_MediaLibraryReader)->Unit(benchmark::kMillisecond)->Repetitions(5);

void BM_PreparedStatements(benchmark::State& state) {
    double peak = 0;
    for (auto _ : state) {
        const bench::PeakRise rise;
        bench::MediaLibraryPeer peer(databasePath());
        peer.playlistMembers();
        const auto tracks = peer.tracks();
        if (tracks.size() != kTracks) state.SkipWithError("wrong tracks");
        peak = std::max(peak, rise.mebibytes());
    }
    state.counters["peak_MiB"] = peak;
}
BENCHMARK(BM_PreparedStatements)->Unit(benchmark::kMillisecond)->Repetitions(5);

void BM_Sqlite3Shell(benchmark::State& state) {
    const std::string command =
        "sqlite3 '" + databasePath() + "' < '" + scriptPath() + "' > /dev/null";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) state.SkipWithError("sqlite3 failed");
    }
    state.counters["peak_MiB"] = bench::commandPeakMiB(command, folder() + "/peak");
}
BENCHMARK(BM_Sqlite3Shell)->Unit(benchmark::kMillisecond)->Repetitions(5);

// The peer is only a fair one if it gives what the reader gives.
bool sameTracks() {
    media::MediaLibraryFlags flags;
    media::MediaLibraryReader reader(media::MediaLibraryReader::Source::MediaLibrary,
                                     {databasePath(), "", ""}, flags);
    reader.loadPlaylists();
    return reader.loadTracks() == bench::MediaLibraryPeer(databasePath()).tracks();
}

}  // namespace

int main(int argc, char** argv) {
    makeLibrary();
    if (!sameTracks()) {
        std::fprintf(stderr, "the peer's tracks differ from the reader's\n");
        std::filesystem::remove_all(folder());
        return 1;
    }
    const int rc = bench::runWithBaselines(
        argc, argv,
        {{"BM_MediaLibraryReader/repeats:5", "BM_PreparedStatements/repeats:5"},
         {"BM_MediaLibraryReader/repeats:5", "BM_Sqlite3Shell/repeats:5"}});
    std::filesystem::remove_all(folder());
    return rc;
}
