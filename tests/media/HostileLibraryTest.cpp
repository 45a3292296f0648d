#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <string>

#include "HostileLibraries.h"
#include "../../bench/PeakMemory.h"
#include "foundation/ScratchFolder.h"
#include "media/MediaLibraryReader.h"

using media::MediaLibraryFlags;
using media::MediaLibraryReader;

namespace {

#if defined(__SANITIZE_THREAD__)
// The thread sanitizer's shadow takes several times the program's own memory: the other
// builds measure the bound.
constexpr double kMostGrowthMiB = std::numeric_limits<double>::infinity();
#else
constexpr double kMostGrowthMiB = 512;
#endif

// Run in a child process of its own: reads the library under the default budget, writes what
// came of it to standard error, and exits 0 only when the load failed with an error, gave
// nothing, and the process's peak resident size grew less than kMostGrowthMiB. The load must
// end: the alarm ends the child otherwise, however loaded the machine or slow the build.
[[noreturn]] void readHostileLibrary(const std::string& path) {
    alarm(100);
    const bench::PeakRise rise;
    MediaLibraryFlags flags;
    MediaLibraryReader reader(MediaLibraryReader::Source::MediaLibrary, {path}, flags);
    reader.loadPlaylists();
    const auto tracks = reader.loadTracks();
    const double growth = rise.mebibytes();
    std::fprintf(stderr, "failure: %s\npeak growth: %.0f MiB\ntracks: %zu\n",
                 reader.failure().c_str(), growth, tracks.size());
    const bool failed = !reader.failure().empty() && tracks.empty() && reader.playlists().empty();
    std::_Exit(failed && growth < kMostGrowthMiB ? 0 : 1);
}

struct HostileLibrary {
    const char* name;
    void (*write)(const std::string& path);
    const char* failure;  // what the error says
};

class HostileLibraryTest : public testing::TestWithParam<HostileLibrary> {};

// A library of a few kilobytes that would make the reader compute, copy or repeat without
// end fails to load with an error, in bounded time and memory.
TEST_P(HostileLibraryTest, FailsToLoadWithAnErrorInBoundedTimeAndMemory) {
    foundationtest::ScratchFolder folder;
    const std::string path = folder / "MediaLibrary.sqlitedb";
    GetParam().write(path);
    if (HasFatalFailure()) return;
    EXPECT_LT(std::filesystem::file_size(path), 64u << 10);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
#if defined(__SANITIZE_ADDRESS__)
    // Memory the sanitizer holds back after it is freed would count as growth.
    const char* given = std::getenv("ASAN_OPTIONS");
    const std::string saved = given ? given : "";
    ::setenv("ASAN_OPTIONS", (saved + ":quarantine_size_mb=8").c_str(), 1);
#endif
    EXPECT_EXIT(readHostileLibrary(path), testing::ExitedWithCode(0),
                std::string("failure: ") + GetParam().failure);
#if defined(__SANITIZE_ADDRESS__)
    ::setenv("ASAN_OPTIONS", saved.c_str(), 1);
#endif
}

INSTANTIATE_TEST_SUITE_P(
    Libraries, HostileLibraryTest,
    testing::Values(HostileLibrary{"ComputedTitles", mediatest::writeComputedColumnsLibrary,
                                   "the table \"item_extra\" has computed columns"},
                    HostileLibrary{"RepeatedMembership", mediatest::writeRepeatedMembershipLibrary,
                                   "it needs more memory than a media library can"},
                    HostileLibrary{"RepeatedLongTitle", mediatest::writeRepeatedTrackLibrary,
                                   "it needs more memory than a media library can"}),
    [](const auto& info) { return std::string(info.param.name); });

// Work SQLite does inside one instruction, comparing a long text, is bounded by the time the
// reading thread may take.
TEST(HostileLibraryClock, ALongKeyComparedOverAndOverRunsOutOfTime) {
    foundationtest::ScratchFolder folder;
    const std::string path = folder / "MediaLibrary.sqlitedb";
    mediatest::writeLongKeyJoinLibrary(path);
    media::LibraryWorkBudget budget;
    budget.secondsLeft = 0.3;
    MediaLibraryFlags flags;
    MediaLibraryReader reader(MediaLibraryReader::Source::MediaLibrary, {path}, flags, budget);
    reader.loadPlaylists();
    EXPECT_TRUE(reader.loadTracks().empty());
    EXPECT_EQ(reader.failure(), "it takes longer to read than a media library can");
}

}  // namespace
