#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <string>

#include "LargeLibraries.h"
#include "../../bench/PeakMemory.h"
#include "foundation/ScratchFolder.h"
#include "media/MediaLibraryReader.h"

using media::MediaLibraryFlags;
using media::MediaLibraryReader;

namespace {

constexpr double kUnbounded = std::numeric_limits<double>::infinity();
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
// The sanitizers' shadow and padding take several times the program's own memory: the
// normal build measures the bound, these builds only load.
constexpr double kMostGrowthMiB = kUnbounded;
#else
constexpr double kMostGrowthMiB = 512;
#endif

// Run in a child process of its own: reads the library with the budget for its files,
// writes what came of it to standard error, and exits 0 when it loaded `tracks` tracks
// (0: failed with an error and gave nothing) and the peak resident size grew less than
// `mostGrowthMiB`. The alarm ends a child that never finishes.
[[noreturn]] void readLibrary(MediaLibraryReader::Source source, MediaLibraryReader::Files files,
                              std::size_t tracks, std::size_t playlists, double mostGrowthMiB) {
    alarm(300);
    const bench::PeakRise rise;
    const auto start = std::chrono::steady_clock::now();
    MediaLibraryFlags flags;
    MediaLibraryReader reader(source, std::move(files), flags);
    reader.loadPlaylists();
    const auto records = reader.loadTracks();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double growth = rise.mebibytes();
    std::size_t memberships = 0;
    for (const auto& playlist : reader.playlists()) memberships += playlist->trackIDs().size();
    std::fprintf(stderr, "failure: %s\ntracks: %zu\nmemberships: %zu\npeak growth: %.0f MiB\n"
                 "time: %.2f s\n",
                 reader.failure().c_str(), records.size(), memberships, growth, seconds);
    const bool expected = tracks == 0 ? !reader.failure().empty() && records.empty()
                                      : reader.failure().empty() && records.size() == tracks &&
                                            memberships == playlists * tracks;
    std::_Exit(expected && growth < mostGrowthMiB ? 0 : 1);
}

class LibraryMemoryTest : public testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
    foundationtest::ScratchFolder folder;
};

// 900,000 items of a pid, an empty title and a song flag fit in 9 MB and would take 3.3 GiB
// as records: the library fails to load once its records take more than a library of its
// size may, well before that.
TEST_F(LibraryMemoryTest, ABareItemsLibraryOfNineMegabytesFailsWithinBoundedMemory) {
    const std::string group = folder / "group";
    mediatest::writeBareItemsGroup(group, 900'000);
    ASSERT_LT(std::filesystem::file_size(group + "/Library.itdb"), 10'000'000u);
    EXPECT_EXIT(readLibrary(MediaLibraryReader::Source::LibraryGroup,
                            {group + "/Library.itdb", group + "/Locations.itdb", ""}, 0, 0,
                            kMostGrowthMiB),
                testing::ExitedWithCode(0),
                "failure: it needs more memory than a media library can");
}

// 200,000 tracks with long comments and descriptions, in three playlists of every track,
// load whole (taking some 1.1 GiB, the figure the bound is set from).
TEST_F(LibraryMemoryTest, ARealSizedLibraryWithLongTextsLoads) {
#if defined(__SANITIZE_THREAD__)
    // Single-threaded work at several times its memory and ten times its time under the
    // thread sanitizer, which finds nothing in it: the other trees load it.
    GTEST_SKIP() << "a 200,000-track load is left to the trees without the thread sanitizer";
#endif
    const std::string path = folder / "MediaLibrary.sqlitedb";
    mediatest::writeRealSizedLibrary(path, 200'000);
    EXPECT_EXIT(readLibrary(MediaLibraryReader::Source::MediaLibrary, {path}, 200'000, 3, kUnbounded),
                testing::ExitedWithCode(0), "failure: \ntracks: 200000");
}

}  // namespace
