// Reading a 50,000-track iTunesDB: our reader against libgpod's itdb_parse_file over the same
// file, written by libgpod at start-up.
#include <gpod/itdb.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "BaselineReport.h"
#include "media/iTunesDBReader.h"

namespace {

constexpr int kTracks = 50000;

std::string databasePath() {
    static const std::string path = [] {
        const auto file = std::filesystem::temp_directory_path() /
                          ("orvandel-bench-iTunesDB-" + std::to_string(::getpid()));
        Itdb_iTunesDB* itdb = itdb_new();
        Itdb_Playlist* master = itdb_playlist_new("Bench iPod", FALSE);
        itdb_playlist_set_mpl(master);
        itdb_playlist_add(itdb, master, -1);
        Itdb_Playlist* half = itdb_playlist_new("Half", FALSE);
        itdb_playlist_add(itdb, half, -1);
        for (int i = 0; i < kTracks; ++i) {
            Itdb_Track* track = itdb_track_new();
            track->title = g_strdup_printf("Track %d", i);
            track->artist = g_strdup_printf("Artist %d", i % 500);
            track->album = g_strdup_printf("Album %d", i % 4000);
            track->genre = g_strdup("Rock");
            track->filetype = g_strdup("MPEG audio file");
            track->ipod_path = g_strdup_printf(":iPod_Control:Music:F%02d:T%d.mp3", i % 50, i);
            track->mediatype = ITDB_MEDIATYPE_AUDIO;
            track->size = 4000000;
            track->tracklen = 200000;
            itdb_track_add(itdb, track, 0);  // prepending keeps the set-up linear
            itdb_playlist_add_track(master, track, 0);
            if (i % 2 == 0) itdb_playlist_add_track(half, track, 0);
        }
        GError* error = nullptr;
        if (!itdb_write_file(itdb, file.c_str(), &error)) {
            std::fprintf(stderr, "libgpod could not write the database: %s\n",
                         error ? error->message : "unknown error");
            std::exit(1);
        }
        itdb_free(itdb);
        std::atexit([] { std::filesystem::remove(databasePath()); });
        return file.string();
    }();
    return path;
}

void BM_OurReader(benchmark::State& state) {
    const std::string path = databasePath();
    for (auto _ : state) {
        auto contents = media::iTunesDBReader::readFile(path);
        if (contents.tracks.size() != kTracks) state.SkipWithError("wrong track count");
        benchmark::DoNotOptimize(contents);
    }
}

void BM_ItdbParseFile(benchmark::State& state) {
    const std::string path = databasePath();
    for (auto _ : state) {
        Itdb_iTunesDB* itdb = itdb_parse_file(path.c_str(), nullptr);
        if (itdb == nullptr || itdb_tracks_number(itdb) != kTracks) {
            state.SkipWithError("libgpod did not read the database");
        }
        if (itdb) itdb_free(itdb);
    }
}

BENCHMARK(BM_OurReader)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ItdbParseFile)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    databasePath();
    return bench::runWithBaselines(argc, argv, {{"BM_OurReader", "BM_ItdbParseFile"}});
}
