#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <mutex>

#include "logging/LgFileLogger.h"
#include "logging/LgLog.h"
#include "logging/LgLogFileFormatterDefault.h"
#include "logging/LgLogFileManagerDefault.h"
#include "logging/LogFolder.h"

namespace {

using namespace std::chrono_literals;

// Remembers which files the logger archived, so that tests can wait for rolls made by the
// logger's own timer or file watcher.
class NoticingManager : public LgLogFileManagerDefault {
public:
    using LgLogFileManagerDefault::LgLogFileManagerDefault;

    void didArchiveLogFile(const std::string& path, bool wasRolled) override {
        std::lock_guard lock(mutex_);
        archived_.push_back({path, wasRolled});
        changed_.notify_all();
    }
    // False when not that many came within a generous time (the test then fails).
    bool waitForArchives(std::size_t count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 30s, [&] { return archived_.size() >= count; });
    }
    std::vector<std::pair<std::string, bool>> archived() {
        std::lock_guard lock(mutex_);
        return archived_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::pair<std::string, bool>> archived_;
};

using Files = std::vector<std::vector<std::string>>;

constexpr std::size_t kStampLength = 25;  // "2026/12/05 15:03:57:123  "

LgLogMessage record(std::string text, std::uint64_t flag = 2,
                    std::optional<LgLogMessage::Clock::time_point> when = std::nullopt) {
    return LgLogMessage(std::move(text), 3, flag, 0, __FILE__, __func__, __LINE__, {}, 0, when);
}

class LgFileLoggerTest : public testing::Test {
protected:
    std::shared_ptr<LgFileLogger> makeLogger() {
        // Notices run inline, so that they have happened when a roll returns.
        return LgFileLogger::create(manager, [](std::function<void()> job) { job(); });
    }

    void log(const std::string& text, std::uint64_t flag = 2) { log(*logger, text, flag); }
    // As the hub does it: through the logging queue, so after every setting made before.
    static void log(LgFileLogger& target, const std::string& text, std::uint64_t flag = 2,
                    std::optional<LgLogMessage::Clock::time_point> when = std::nullopt) {
        LgLog::loggingQueue().sync([&] {
            target.loggerQueue()->sync([&] { target.logMessage(record(text, flag, when)); });
        });
    }

    // Ends the logger as a run ends. Its last owner may be a job on its queue, so this
    // waits until that job, and with it the logger's last writes, has finished.
    void release() {
        const auto queue = logger->loggerQueue();
        logger.reset();
        queue->sync([] {});
    }

    // Each log file's lines without their time stamps, oldest file first.
    Files files() {
        logger->flush();
        auto paths = manager->sortedLogFilePaths();
        std::reverse(paths.begin(), paths.end());
        Files result;
        for (const auto& path : paths) {
            result.emplace_back();
            std::istringstream lines(LogFolder::read(path));
            for (std::string line; std::getline(lines, line);) {
                result.back().push_back(line.size() >= kStampLength ? line.substr(kStampLength)
                                                                    : "short:" + line);
            }
        }
        return result;
    }

    LogFolder folder;
    std::shared_ptr<NoticingManager> manager = std::make_shared<NoticingManager>(folder.path);
    std::shared_ptr<LgFileLogger> logger = makeLogger();
};

TEST_F(LgFileLoggerTest, WritesEachRecordAsOneTimeStampedLine) {
    const auto when = LgDateFormatter(kLgLogFileNameDatePattern).parse("2026-12-05--15-03-57-123");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"[ERROR] disk full", "2026/12/05 15:03:57:123  [ERROR] disk full\n"},
        {"ends in a line feed\n", "2026/12/05 15:03:57:123  ends in a line feed\n"},
        {"two\nlines", "2026/12/05 15:03:57:123  two\nlines\n"},
        {"Grüße ✓", "2026/12/05 15:03:57:123  Grüße ✓\n"},
    };
    LgLogFileFormatterDefault formatter;
    std::string expected;
    for (const auto& [text, line] : cases) {
        log(*logger, text, 2, when);
        expected += line;
    }
    EXPECT_EQ(formatter.formatLogMessage(record("x", 2, when)), "2026/12/05 15:03:57:123  x");

    // Empty text writes nothing; without a formatter the text stands alone.
    log("");
    logger->setLogFormatter(nullptr);
    log("plain");
    expected += "plain\n";
    logger->flush();
    EXPECT_EQ(LogFolder::read(logger->currentLogFileInfo()->filePath()), expected);
}

TEST_F(LgFileLoggerTest, ACustomFormatterLineGetsALineFeedOnlyWhenAsked) {
    struct Upper : LgLogFormatter {
        std::optional<std::string> formatLogMessage(const LgLogMessage& m) override {
            if (m.message() == "drop") return std::nullopt;
            return "<" + m.message() + ">";
        }
    };
    logger->setLogFormatter(std::make_shared<Upper>());
    log("a");
    logger->setAutomaticallyAppendNewlineForCustomFormatters(false);
    log("b");
    log("drop");
    logger->flush();
    EXPECT_EQ(LogFolder::read(logger->currentLogFileInfo()->filePath()), "<a>\n<b>");
}

// The count is per process: when tests repeat in one process, later runs see no report.
TEST_F(LgFileLoggerTest, OnlyTheFirstTenFailuresWhileWritingAreReported) {
    static bool firstRun = true;
    const bool expectReports = std::exchange(firstRun, false);
    struct Throwing : LgLogFormatter {
        std::optional<std::string> formatLogMessage(const LgLogMessage&) override {
            throw std::runtime_error("boom");
        }
    };
    logger->setLogFormatter(std::make_shared<Throwing>());
    testing::internal::CaptureStderr();
    for (int i = 0; i < 12; ++i) log("x");
    const auto console = testing::internal::GetCapturedStderr();
    std::size_t reports = 0;
    for (auto at = console.find("LgFileLogger.logMessage: boom\n"); at != std::string::npos;
         at = console.find("LgFileLogger.logMessage: boom\n", at + 1)) {
        ++reports;
    }
    EXPECT_EQ(reports, expectReports ? 10u : 0u);
    EXPECT_EQ(console.ends_with("LgFileLogger.logMessage: Too many exceptions -- will not log "
                                "any more of them.\n"),
              expectReports);

    logger->setLogFormatter(std::make_shared<LgLogFileFormatterDefault>());
    log("still logging");
    EXPECT_EQ(files(), Files{{"still logging"}});
}

TEST_F(LgFileLoggerTest, AnErrorIsInTheFileWhenTheCallReturns) {
    log("[ERROR] at once", 1);
    const auto path = manager->sortedLogFilePaths().front();
    EXPECT_NE(LogFolder::read(path).find("[ERROR] at once\n"), std::string::npos);
}

// While it lives, writes past `limit` bytes of any file fail (as on a full disk) instead of
// raising SIGXFSZ; the limit and the signal's handling are restored afterwards.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t limit) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit lowered{limit, saved_.rlim_max};
        EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &lowered), 0);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit saved_{};
    void (*previousHandler_)(int) = SIG_DFL;
};

// While it lives, standard error is a file already past `limit` bytes: under a file-size
// limit of that, nothing written there lands (as with a console redirected to the full disk).
class FullConsole {
public:
    FullConsole(const LogFolder& folder, std::uint64_t limit) : saved_(::dup(STDERR_FILENO)) {
        folder.make("console", limit + 100);
        const int console = ::open(folder.file("console").c_str(), O_WRONLY | O_APPEND);
        EXPECT_GE(console, 0);
        ::dup2(console, STDERR_FILENO);
        ::close(console);
    }
    ~FullConsole() {
        ::dup2(saved_, STDERR_FILENO);
        ::close(saved_);
    }
    FullConsole(const FullConsole&) = delete;
    FullConsole& operator=(const FullConsole&) = delete;

private:
    int saved_;
};

// The logger's report of the full disk goes to a console that cannot take it either: the
// report is lost, and the log call still returns.
TEST_F(LgFileLoggerTest, AWriteCutShortLeavesNoPartOfALineForTheNextToJoin) {
    log("before the disk filled up", 1);
    const std::string path = logger->currentLogFileInfo()->filePath();
    const auto size = std::filesystem::file_size(path);
    {
        // Room for half of the next line, and for nothing after it.
        const FullConsole console(folder, size + 40);
        const FileSizeLimit full(size + 40);
        EXPECT_NO_THROW(log("this line does not fit in what is left of the disk, not by far", 1));
        EXPECT_NO_THROW(log("nor does this one", 1));
    }
    EXPECT_EQ(std::filesystem::file_size(path), size);
    log("room again", 1);
    EXPECT_EQ(files(), (Files{{"before the disk filled up", "room again"}}));
}

TEST_F(LgFileLoggerTest, RollsWhenAWriteReachesTheSizeLimitKeepingThatLineWhole) {
    const std::string text = "0123456789";
    const std::uint64_t line = kStampLength + text.size() + 1;
    const std::vector<std::pair<std::uint64_t, Files>> cases = {
        {2 * line, {{text, text}, {text, text}, {text}}},
        {2 * line - 1, {{text, text}, {text, text}, {text}}},
        {2 * line + 1, {{text, text, text}, {text, text}}},
        {1, {{text}, {text}, {text}, {text}, {text}}},
        {0, {{text, text, text, text, text}}},
    };
    for (const auto& [limit, expected] : cases) {
        LogFolder caseFolder;
        manager = std::make_shared<NoticingManager>(caseFolder.path);
        logger = makeLogger();
        logger->setMaximumFileSize(limit);
        EXPECT_EQ(logger->maximumFileSize(), limit);
        for (int i = 0; i < 5; ++i) log(text);
        EXPECT_EQ(files(), expected) << "limit " << limit;

        // Every file but the last was closed by a roll, and is marked so.
        const auto paths = manager->sortedLogFilePaths();
        for (std::size_t i = 0; i < paths.size(); ++i) {
            if (i != 0) {
                EXPECT_TRUE(LgLogFileInfo(paths[i]).isArchived()) << "limit " << limit;
            }
            if (i != 0 && limit == 2 * line) {
                EXPECT_EQ(LgLogFileInfo(paths[i]).fileSize(), limit);
            }
        }
        logger.reset();
    }
}

// Routine writes leave the disk to the kernel; a roll brings the file to the disk before it
// closes it.
TEST_F(LgFileLoggerTest, ARollSyncsTheFileBeforeClosingItAndRoutineWritesDoNot) {
    std::vector<std::string> synced;  // only touched on the logger's queue
    logger->setFileSync([&](int fd) {
        std::error_code error;
        synced.push_back(
            std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd), error).string());
        return 0;
    });
    log("first");
    logger->flushBuffered();
    const std::string first = logger->currentLogFileInfo()->filePath();
    logger->currentLogFileInfo();  // waits for the queue
    EXPECT_TRUE(synced.empty());

    logger->rollLogFile();
    log("second");
    logger->currentLogFileInfo();
    EXPECT_EQ(synced, std::vector<std::string>{first});
    EXPECT_TRUE(LgLogFileInfo(first).isArchived());
    release();  // its last sync, at its end, still finds `synced`
}

// A file rolled by size reaches the disk in the background, so that the records behind
// its roll need not wait; a flush waits for every such file.
TEST_F(LgFileLoggerTest, FlushWaitsForFilesRolledBySizeToReachTheDisk) {
    std::mutex mutex;
    std::vector<std::string> synced;
    logger->setFileSync([&](int fd) {
        const int result = ::fsync(fd);
        std::error_code error;
        auto path = std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd), error);
        std::lock_guard lock(mutex);
        synced.push_back(path.string());
        return result;
    });
    logger->setMaximumFileSize(1);  // each line rolls its file
    for (int i = 0; i < 4; ++i) log("line " + std::to_string(i));
    logger->flush();
    auto rolled = manager->sortedLogFilePaths();
    ASSERT_EQ(rolled.size(), 4u);
    {
        std::lock_guard lock(mutex);
        std::sort(rolled.begin(), rolled.end());
        std::sort(synced.begin(), synced.end());
        EXPECT_EQ(synced, rolled);
    }
    for (const auto& path : rolled) EXPECT_TRUE(LgLogFileInfo(path).isArchived()) << path;
    release();  // before `synced` goes
}

TEST_F(LgFileLoggerTest, ARestartContinuesTheNewestFileWhileItIsWithinTheLimits) {
    struct Case {
        const char* name;
        std::function<void(LgFileLogger&)> configure;
        Files expected;
    };
    const std::vector<Case> cases = {
        {"continued", [](LgFileLogger&) {}, {{"first", "second"}}},
        {"do not reuse",
         [](LgFileLogger& l) { l.setDoNotReuseLogFiles(true); },
         {{"first"}, {"second"}}},
        {"full",
         [](LgFileLogger& l) {
             l.setMaximumFileSize(kStampLength + 6); /* "first" reached it */
         },
         {{"first"}, {"second"}}},
        {"old", [](LgFileLogger& l) { l.setRollingFrequency(1e-9); }, {{"first"}, {"second"}}},
    };
    for (const auto& c : cases) {
        LogFolder caseFolder;
        manager = std::make_shared<NoticingManager>(caseFolder.path);
        logger = makeLogger();
        log("first");
        release();  // the end of a run: flushed, not archived

        logger = makeLogger();
        c.configure(*logger);
        log("second");
        EXPECT_EQ(files(), c.expected) << c.name;
        logger.reset();
    }
}

TEST_F(LgFileLoggerTest, AFileDeletedOrRenamedFromOutsideIsLeftForANewOne) {
    const std::vector<std::pair<const char*, std::function<void(const std::string&)>>> cases = {
        {"deleted", [](const std::string& path) { std::filesystem::remove(path); }},
        {"renamed",
         [this](const std::string& path) {
             std::filesystem::rename(path, folder.file("moved.txt"));
         }},
    };
    for (const auto& [name, change] : cases) {
        std::filesystem::remove(folder.file("moved.txt"));
        log("before");
        const auto before = logger->currentLogFileInfo()->filePath();
        logger->flush();
        change(before);
        log("after");
        log("after again");
        // A new file, which may carry the old name when made within the same millisecond.
        const auto after = logger->currentLogFileInfo()->filePath();
        logger->flush();
        const auto content = LogFolder::read(after);
        EXPECT_EQ(content.find("before"), std::string::npos) << name;
        EXPECT_NE(content.find("after\n"), std::string::npos) << name;
        EXPECT_NE(content.find("after again\n"), std::string::npos) << name;
        logger->rollLogFile();
    }
    EXPECT_EQ(LogFolder::read(folder.file("moved.txt")).substr(kStampLength), "before\n");
}

TEST_F(LgFileLoggerTest, LinesLoggedAfterADeleteReachANewFileEvenAtTheEnd) {
    log("gone");
    logger->flush();
    std::filesystem::remove(logger->currentLogFileInfo()->filePath());
    log("kept");
    release();
    logger = makeLogger();
    EXPECT_EQ(files(), Files{{"kept"}});
}

TEST_F(LgFileLoggerTest, TheWatcherRollsAFileDeletedWhileNothingIsLogged) {
    log("only line");
    logger->flush();  // written: nothing waits to be carried to the next file
    const auto path = logger->currentLogFileInfo()->filePath();
    std::filesystem::remove(path);
    ASSERT_TRUE(manager->waitForArchives(1));
    EXPECT_EQ(manager->archived().front(), std::make_pair(path, true));
    log("next");
    EXPECT_EQ(files(), Files{{"next"}});
}

TEST_F(LgFileLoggerTest, RollsByAgeAtTheNextCheckAndByItsTimer) {
    log("first");
    // Age plus one second reaches the frequency at once.
    logger->setRollingFrequency(1.0);
    EXPECT_EQ(logger->rollingFrequency(), 1.0);
    EXPECT_EQ(manager->archived().size(), 1u);
    logger->setRollingFrequency(1.25);
    log("second");
    ASSERT_TRUE(manager->waitForArchives(2));  // the timer fires a quarter second on
    log("third");
    // The file after a roll by the timer is rolled by a timer of its own.
    ASSERT_TRUE(manager->waitForArchives(3));
    log("fourth");
    EXPECT_EQ(files(), (Files{{"first"}, {"second"}, {"third"}, {"fourth"}}));
}

TEST_F(LgFileLoggerTest, RemovalFromTheHubAndExplicitRollsArchiveTheFile) {
    LgLog hub;
    hub.addLogger(logger);
    hub.log(false, record("through the hub", 1));
    const auto first = logger->currentLogFileInfo();
    hub.removeLogger(logger);
    hub.flushLog();
    logger->currentLogFileInfo();  // waits for the removal's roll
    EXPECT_TRUE(LgLogFileInfo(first->filePath()).isArchived());

    log("direct");
    std::mutex mutex;
    std::condition_variable done;
    bool completed = false;
    logger->rollLogFileWithCompletionBlock([&] {
        std::lock_guard lock(mutex);
        completed = true;
        done.notify_all();
    });
    std::unique_lock lock(mutex);
    ASSERT_TRUE(done.wait_for(lock, 30s, [&] { return completed; }));
    EXPECT_EQ(files(), (Files{{"through the hub"}, {"direct"}}));
}

TEST_F(LgFileLoggerTest, WithoutAWritableFolderRecordsAreDroppedAndTheLoggerGoesOn) {
    folder.make("plain-file");
    manager = std::make_shared<NoticingManager>(folder.file("plain-file") + "/Logs");
    logger = makeLogger();
    testing::internal::CaptureStderr();
    log("lost");
    logger->logData(std::span<const char>("raw", 3));
    EXPECT_EQ(logger->currentLogFileInfo(), nullptr);
    const auto console = testing::internal::GetCapturedStderr();
    EXPECT_NE(console.find("LgFileLogger: Failed to create new log file"), std::string::npos);
    EXPECT_NE(console.find("Bailing file creation, encountered 5 errors."), std::string::npos);
}

}  // namespace
