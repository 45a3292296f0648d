// Matching 50,000 device tracks against a 50,000-track music library (half of them are
// there), through the library view, its script wrapper and the library's handler, beside
// a plain SQLite loop that looks the same title, artist and album up with one prepared
// statement. The final line gives our time / baseline time.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "BaselineReport.h"
#include "media/iTunesLibrary.h"
#include "media/iTunesWrapper.h"

namespace {

using foundation::Value;

constexpr int kTracks = 50000;
constexpr const char* kLookup =
    "SELECT pid, path FROM tracks WHERE title = ? COLLATE NOCASE AND artist = ? COLLATE NOCASE "
    "AND album = ? COLLATE NOCASE ORDER BY id LIMIT 1";

struct Library {
    std::string folder;
    std::shared_ptr<music::MusicScript> script;
    foundation::Array deviceTracks;
};

Library& library() {
    static Library shared;
    return shared;
}

std::string indexPath() {
    return library().folder + "/index.sqlite";
}

void makeLibrary() {
    Library& lib = library();
    lib.folder = (std::filesystem::temp_directory_path() / "orvandel-bench-XXXXXX").string();
    if (mkdtemp(lib.folder.data()) == nullptr) std::abort();
    lib.script = music::MusicScript::load({lib.folder + "/Music", indexPath(), nullptr}, nullptr);
    if (!lib.script) std::abort();
    // The index as imports leave it, filled in one go.
    sqlite3* db = nullptr;
    sqlite3_open(indexPath().c_str(), &db);
    const std::string fill =
        "WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < " +
        std::to_string(kTracks) +
        ") INSERT INTO tracks (pid, path, title, artist, album) SELECT printf('%016X', i * 7919 + "
        "1), '/music/' || i || '.m4a', 'Title ' || i, 'Artist ' || (i % 500), 'Album ' || (i % "
        "5000) FROM c;";
    if (sqlite3_exec(db, fill.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) std::abort();
    sqlite3_close(db);
    for (int i = 1; i <= kTracks; ++i) {
        // Every other device track is in the library.
        const int key = i % 2 ? i : kTracks + i;
        lib.deviceTracks.push_back(Value::dict({{"pid", i},
                                                {"title", "Title " + std::to_string(key)},
                                                {"artist", "Artist " + std::to_string(key % 500)},
                                                {"album", "Album " + std::to_string(key % 5000)}}));
    }
}

void BM_MatchDeviceTracks(benchmark::State& state) {
    media::iTunesWrapper wrapper(library().script);
    media::iTunesLibrary view(wrapper);
    for (auto _ : state) {
        state.PauseTiming();
        foundation::Array tracks = library().deviceTracks;
        state.ResumeTiming();
        int found = 0;
        view.isTracksInITunesCallback(tracks, [&](const Value& track) {
            found += track["status"].isString();
            return true;
        });
        if (found != kTracks / 2) state.SkipWithError("wrong match count");
    }
}
BENCHMARK(BM_MatchDeviceTracks)->Unit(benchmark::kMillisecond);

void BM_PlainSqliteLookups(benchmark::State& state) {
    sqlite3* db = nullptr;
    sqlite3_open(indexPath().c_str(), &db);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, kLookup, -1, &stmt, nullptr);
    for (auto _ : state) {
        int found = 0;
        for (const auto& track : library().deviceTracks) {
            for (int column = 0; column < 3; ++column) {
                const std::string& text = *track[column == 0   ? "title"
                                                 : column == 1 ? "artist"
                                                               : "album"]
                                               .string();
                sqlite3_bind_text(stmt, column + 1, text.data(), int(text.size()),
                                  SQLITE_TRANSIENT);
            }
            if (sqlite3_step(stmt) == SQLITE_ROW) {
                benchmark::DoNotOptimize(
                    std::string(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0))));
                benchmark::DoNotOptimize(
                    std::string(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1))));
                ++found;
            }
            sqlite3_reset(stmt);
        }
        if (found != kTracks / 2) state.SkipWithError("wrong match count");
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
}
BENCHMARK(BM_PlainSqliteLookups)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    makeLibrary();
    const int rc =
        bench::runWithBaselines(argc, argv, {{"BM_MatchDeviceTracks", "BM_PlainSqliteLookups"}});
    library().script.reset();
    std::filesystem::remove_all(library().folder);
    return rc;
}
