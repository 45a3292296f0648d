#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <sstream>
#include <thread>

#include <fmt/format.h>

#include "logging/LgFileLogger.h"
#include "logging/LgLog.h"
#include "logging/LgLogFileManagerDefault.h"
#include "logging/LogFolder.h"

namespace {

// Enough lines for a few hundred rolls while threads keep racing the hub.
constexpr int kThreads = 4;
constexpr int kLinesPerThread = 10000;
constexpr std::uint64_t kSizeLimit = 8 * 1024;
constexpr std::size_t kStampLength = 25;

std::int64_t birthNanoseconds(const std::string& path) {
    struct statx status {};
    if (statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME, &status) != 0) return 0;
    return std::int64_t{status.stx_btime.tv_sec} * 1000000000 + status.stx_btime.tv_nsec;
}

// Threads log through the hub while the logger rolls every 8 KiB: each line must
// land exactly once, whole, in one file, in the order its thread wrote it.
TEST(LgFileLoggerStressTest, EveryLineOnceWholeAndInOrderAcrossRolls) {
    LogFolder folder;
    auto manager = std::make_shared<LgLogFileManagerDefault>(folder.path);
    manager->setMaximumNumberOfLogFiles(0);
    manager->setLogFilesDiskQuota(0);
    auto logger = LgFileLogger::create(manager);
    logger->setMaximumFileSize(kSizeLimit);
    LgLog hub;
    hub.addLogger(logger);

    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([&hub, t] {
            for (int i = 0; i < kLinesPerThread; ++i) {
                // Half queue their records, half hand them over on their own thread.
                hub.log(t % 2 == 0, LgLogMessage(fmt::format("t{} {:06} payload", t, i), 3, 2, 0,
                                                 "", "", 0, {}, 0, std::nullopt));
            }
        });
    }
    for (auto& writer : writers) writer.join();
    hub.flushLog();

    // Oldest file first, by the files' own birth times (names alone tie within a millisecond).
    auto paths = manager->unsortedLogFilePaths();
    std::vector<std::pair<std::int64_t, std::string>> born;
    for (const auto& path : paths) born.emplace_back(birthNanoseconds(path), path);
    std::sort(born.begin(), born.end());

    std::vector<int> next(kThreads, 0);
    int malformed = 0, outOfOrder = 0;
    for (const auto& [birth, path] : born) {
        const std::string content = LogFolder::read(path);
        ASSERT_FALSE(content.empty()) << path;
        EXPECT_EQ(content.back(), '\n') << "a line was split at the end of " << path;
        // Only the line that crosses the limit may pass it.
        EXPECT_LT(content.size(), kSizeLimit + 64) << path;
        std::istringstream lines(content);
        for (std::string line; std::getline(lines, line);) {
            int t = -1, i = -1;
            char tail[16] = {};
            if (line.size() < kStampLength ||
                std::sscanf(line.c_str() + kStampLength, "t%d %d %15s", &t, &i, tail) != 3 ||
                std::string(tail) != "payload" || t < 0 || t >= kThreads) {
                ++malformed;
                continue;
            }
            if (i != next[t]) ++outOfOrder;
            next[t] = i + 1;
        }
    }
    EXPECT_EQ(malformed, 0);
    EXPECT_EQ(outOfOrder, 0);
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(next[t], kLinesPerThread) << "thread " << t;
    EXPECT_GT(born.size(), 100u);

    hub.removeAllLoggers();
    hub.flushLog();
}

}  // namespace
