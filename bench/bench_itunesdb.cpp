// Reading an iTunesDB folder written by libgpod: our reader against libgpod's itdb_parse on
// the same folder. The first figure is what a user waits for: one read in a fresh process,
// ours and libgpod's alternating, each child's time and peak memory reported. The warm
// figures read the same file again and again in this process.
#include <gpod/itdb.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>

#include "BaselineReport.h"
#include "media/iTunesDBReader.h"

namespace {

namespace fs = std::filesystem;

std::string databaseFile(const std::string& folder) {
    return folder + "/iPod_Control/iTunes/iTunesDB";
}

// A folder holding iPod_Control/iTunes/iTunesDB with `count` tracks, written once per size.
std::string ipodFolder(int count) {
    static std::map<int, std::string> folders;
    if (auto found = folders.find(count); found != folders.end()) return found->second;
    const fs::path folder = fs::temp_directory_path() / ("orvandel-bench-ipod-" +
                                                         std::to_string(::getpid()) + "-" +
                                                         std::to_string(count));
    fs::create_directories(folder / "iPod_Control" / "iTunes");
    Itdb_iTunesDB* itdb = itdb_new();
    itdb_set_mountpoint(itdb, folder.c_str());
    Itdb_Playlist* master = itdb_playlist_new("Bench iPod", FALSE);
    itdb_playlist_set_mpl(master);
    itdb_playlist_add(itdb, master, -1);
    Itdb_Playlist* half = itdb_playlist_new("Half", FALSE);
    itdb_playlist_add(itdb, half, -1);
    for (int i = 0; i < count; ++i) {
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
    if (!itdb_write_file(itdb, databaseFile(folder.string()).c_str(), &error)) {
        std::fprintf(stderr, "libgpod could not write the database: %s\n",
                     error ? error->message : "unknown error");
        std::exit(1);
    }
    itdb_free(itdb);
    static bool cleanUp = (std::atexit([] {
                               for (const auto& [n, path] : folders) fs::remove_all(path);
                           }),
                           true);
    (void)cleanUp;
    return folders[count] = folder.string();
}

// This process's peak resident size in KiB. Taken from the process itself: the peak that
// wait4 reports for a child also counts the parent's pages it shared before its exec.
long peakKiB() {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (!status) return 0;
    char line[256];
    long kib = 0;
    while (std::fgets(line, sizeof line, status)) {
        if (std::sscanf(line, "VmHWM: %ld kB", &kib) == 1) break;
    }
    std::fclose(status);
    return kib;
}

// The child's side: one read, exit 0 when it found every track; its peak memory goes to
// standard output.
int readOnce(const std::string& reader, const std::string& folder, long expected) {
    bool whole = false;
    if (reader == "ours") {
        const auto contents = media::iTunesDBReader::readFile(databaseFile(folder));
        whole = static_cast<long>(contents.tracks.size()) == expected;
    } else {
        Itdb_iTunesDB* itdb = itdb_parse(folder.c_str(), nullptr);
        whole = itdb && static_cast<long>(itdb_tracks_number(itdb)) == expected;
        if (itdb) itdb_free(itdb);
    }
    std::printf("%ld\n", peakKiB());
    return whole ? 0 : 1;
}

struct ChildRun {
    double seconds = 0;
    double peakMiB = 0;
    bool ok = false;
};

ChildRun runChild(const char* reader, const std::string& folder, int count) {
    ChildRun run;
    int out[2];
    if (::pipe(out) != 0) return run;
    const std::string expected = std::to_string(count);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::close(out[0]);
        ::close(out[1]);
        ::execl("/proc/self/exe", "bench_itunesdb", "--read-once", reader, folder.c_str(),
                expected.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    int status = 0;
    if (pid > 0 && ::waitpid(pid, &status, 0) == pid) {
        run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    // The peak is a short line, written as the child ended: the pipe holds it.
    char peak[32] = {};
    if (::read(out[0], peak, sizeof peak - 1) > 0) run.peakMiB = std::atof(peak) / 1024.0;
    ::close(out[0]);
    return run;
}

void BM_FirstRead(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    const std::string folder = ipodFolder(count);
    double ours = 0, theirs = 0, oursPeak = 0, theirsPeak = 0;
    for (auto _ : state) {
        const ChildRun a = runChild("ours", folder, count);
        const ChildRun b = runChild("itdb", folder, count);
        if (!a.ok || !b.ok) {
            state.SkipWithError("a reader did not read every track");
            break;
        }
        state.SetIterationTime(a.seconds);
        ours += a.seconds;
        theirs += b.seconds;
        oursPeak = std::max(oursPeak, a.peakMiB);
        theirsPeak = std::max(theirsPeak, b.peakMiB);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["ours_ms"] = ours / n * 1000;
    state.counters["itdb_ms"] = theirs / n * 1000;
    state.counters["ratio"] = theirs > 0 ? ours / theirs : 0;
    state.counters["ours_peak_MiB"] = oursPeak;
    state.counters["itdb_peak_MiB"] = theirsPeak;
}

void BM_WarmOurReader(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    const std::string file = databaseFile(ipodFolder(count));
    for (auto _ : state) {
        auto contents = media::iTunesDBReader::readFile(file);
        if (contents.tracks.size() != static_cast<std::size_t>(count))
            state.SkipWithError("wrong track count");
        benchmark::DoNotOptimize(contents);
    }
}

void BM_WarmItdbParse(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    const std::string folder = ipodFolder(count);
    for (auto _ : state) {
        Itdb_iTunesDB* itdb = itdb_parse(folder.c_str(), nullptr);
        if (itdb == nullptr || itdb_tracks_number(itdb) != static_cast<guint32>(count)) {
            state.SkipWithError("libgpod did not read the database");
        }
        if (itdb) itdb_free(itdb);
    }
}

// Naming a disk-mode iPod: only the database header and the playlists' titles are read.
// libgpod learns the name by parsing the whole folder, which the figure above times.
void BM_WarmIpodName(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    const std::string file = databaseFile(ipodFolder(count));
    for (auto _ : state) {
        auto name = media::iTunesDBReader::masterPlaylistNameOfFile(file);
        if (name != "Bench iPod") state.SkipWithError("wrong name");
        benchmark::DoNotOptimize(name);
    }
}

BENCHMARK(BM_FirstRead)->Arg(20000)->Arg(50000)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WarmOurReader)->Arg(50000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WarmItdbParse)->Arg(50000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WarmIpodName)->Arg(50000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "--read-once") == 0) {
        return readOnce(argv[2], argv[3], std::atol(argv[4]));
    }
    return bench::runWithBaselines(argc, argv,
                                   {{"BM_WarmOurReader/50000", "BM_WarmItdbParse/50000"},
                                    {"BM_WarmIpodName/50000", "BM_WarmItdbParse/50000"}});
}
