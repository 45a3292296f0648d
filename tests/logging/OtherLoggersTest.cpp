#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <mutex>

#include "foundation/Error.h"
#include "logging/LgASLLogCapture.h"
#include "logging/LgASLLogger.h"
#include "logging/LgAbstractDatabaseLogger.h"
#include "logging/LgLog.h"
#include "logging/LgOSLogger.h"
#include "logging/LgTTYLogger.h"
#include "logging/LogLevel.h"
#include "logging/TextShape.h"

namespace {

using namespace std::chrono_literals;

LgLogMessage record(std::string text, std::uint64_t flag, std::int64_t context = 0,
                    std::any tag = {}) {
    return LgLogMessage(std::move(text), 3, flag, context, __FILE__, __func__, __LINE__,
                        std::move(tag), 0, std::nullopt);
}

// Sets environment variables for one test and puts the old values back.
class ScopedEnvironment {
public:
    void set(const char* name, const char* value) {
        const char* old = std::getenv(name);
        saved_.push_back({name, old ? std::optional<std::string>(old) : std::nullopt});
        if (value) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedEnvironment() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->second) {
                ::setenv(it->first.c_str(), it->second->c_str(), 1);
            } else {
                ::unsetenv(it->first.c_str());
            }
        }
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// A console logger writing into a pipe, so that its output can be read back.
class LgTTYLoggerTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(::pipe2(fds_, O_NONBLOCK | O_CLOEXEC), 0); }
    void TearDown() override {
        ::close(fds_[0]);
        ::close(fds_[1]);
    }
    std::shared_ptr<LgTTYLogger> make(const char* term, const char* consoleColors = nullptr) {
        ScopedEnvironment environment;
        environment.set("TERM", term);
        environment.set("ConsoleColors", consoleColors);
        return std::make_shared<LgTTYLogger>(fds_[1]);
    }
    std::string write(LgTTYLogger& logger, const LgLogMessage& message) {
        logger.colorsEnabled();  // settings made before have arrived
        logger.loggerQueue()->sync([&] { logger.logMessage(message); });
        char buffer[4096];
        const ssize_t length = ::read(fds_[0], buffer, sizeof buffer);
        return length > 0 ? std::string(buffer, static_cast<std::size_t>(length)) : "";
    }

    int fds_[2] = {-1, -1};
};

TEST_F(LgTTYLoggerTest, TheDefaultLineNamesTimeApplicationProcessAndThread) {
    auto logger = make("dumb");
    const auto line = write(*logger, record("hello", LgLogFlagWarning));
    EXPECT_TRUE(hasShape(line, "####-##-## ##:##:##:### logging_tests[+:+] hello\n")) << line;
    const auto bracket = line.find('[');
    EXPECT_EQ(line.substr(bracket + 1, line.find(':', bracket) - bracket - 1),
              std::to_string(::getpid()));
}

TEST_F(LgTTYLoggerTest, ColoursFollowTheTerminalAndTheFirstMatchingRule) {
    struct Case {
        const char* term;
        const char* consoleColors;
        bool supports;
        const char* errorCode;  // nullptr: no colour
    };
    const std::vector<Case> cases = {
        {"xterm-256color", nullptr, true, "\033[38;5;166m"},
        {"XTERM-COLOR", nullptr, true, "\033[31m"},
        {"dumb", "YES", true, "\033[31m"},
        {"dumb", nullptr, false, "\033[31m"},  // enabled by hand, it still colours
    };
    for (const auto& c : cases) {
        auto logger = make(c.term, c.consoleColors);
        EXPECT_EQ(logger->supportsColors(), c.supports) << c.term;
        EXPECT_EQ(write(*logger, record("plain", LgLogFlagError)).find('\033'), std::string::npos);
        logger->setColorsEnabled(true);
        const auto error = write(*logger, record("bad", LgLogFlagError));
        EXPECT_EQ(error.rfind(c.errorCode, 0), 0u) << c.term << ": " << error;
        EXPECT_TRUE(error.ends_with("bad\033[0m\n")) << c.term;
        EXPECT_EQ(write(*logger, record("info", LgLogFlagInfo)).find('\033'), std::string::npos);
    }

    auto logger = make("xterm-color");
    logger->setColorsEnabled(true);
    logger->setForegroundColor(LgTTYLogger::Rgb{0, 0, 255}, LgTTYLogger::Rgb{255, 255, 255},
                               LgLogFlagInfo, 7);
    logger->setForegroundColorForTag(LgTTYLogger::Rgb{0, 255, 0}, std::nullopt, "net");
    EXPECT_EQ(write(*logger, record("ctx", LgLogFlagInfo, 7)).substr(0, 12), "\033[34m\033[1;47m");
    EXPECT_EQ(write(*logger, record("other ctx", LgLogFlagInfo, 1)).find('\033'),
              std::string::npos);
    EXPECT_EQ(write(*logger, record("tagged", LgLogFlagError, 0, std::string("net"))).substr(0, 7),
              "\033[1;32m");
    logger->clearAllColors();
    EXPECT_EQ(write(*logger, record("bad", LgLogFlagError)).find('\033'), std::string::npos);
}

TEST(LgTTYLoggerColorProfileTest, DescribesItselfWithItsCodes) {
    LgTTYLoggerColorProfile profile(LgTTYLoggerColorProfile::Rgb{214, 57, 30}, std::nullopt, 1, 0,
                                    false);
    EXPECT_TRUE(hasShape(profile.description(),
                         "<LgTTYLoggerColorProfile: 0x* mask:1 ctxt:0 fg:214,57,30 bg:0,0,0 "
                         "fgCode:31m bgCode:>"))
        << profile.description();
    EXPECT_EQ(LgTTYLoggerColorProfile::nearestColorIndex({255, 255, 255}, true), 15);
    EXPECT_EQ(LgTTYLoggerColorProfile::nearestColorIndex({128, 128, 128}, true), 244);
}

// Counts what the base asks of it, and lets a test wait for a number of saves or deletes.
class CountingDatabaseLogger : public LgAbstractDatabaseLogger {
public:
    CountingDatabaseLogger() : LgAbstractDatabaseLogger("db") {}

    struct Counts {
        int stored = 0, saves = 0, saveAndDeletes = 0, deletes = 0;
        std::vector<int> savedBatches;
    };
    Counts counts() {
        std::lock_guard lock(mutex_);
        return counts_;
    }
    bool waitFor(std::function<bool(const Counts&)> done) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 30s, [&] { return done(counts_); });
    }
    // Delivered as the hub does it: settings queued before through the logging queue are
    // in place when the record arrives.
    void log(const std::string& text) {
        LgLog::loggingQueue().sync(
            [&] { loggerQueue()->sync([&] { logMessage(record(text, LgLogFlagWarning)); }); });
    }

protected:
    bool db_log(const LgLogMessage& message) override {
        if (message.message() == "refused") return false;
        update([](Counts& c) { ++c.stored; });
        ++batch_;
        return true;
    }
    void db_save() override {
        update([this](Counts& c) { ++c.saves, c.savedBatches.push_back(batch_); });
        batch_ = 0;
    }
    void db_saveAndDelete() override {
        update([this](Counts& c) { ++c.saveAndDeletes, c.savedBatches.push_back(batch_); });
        batch_ = 0;
    }
    void db_delete() override {
        update([](Counts& c) { ++c.deletes; });
    }

private:
    void update(const std::function<void(Counts&)>& change) {
        std::lock_guard lock(mutex_);
        change(counts_);
        changed_.notify_all();
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    Counts counts_;
    int batch_ = 0;  // only on the logger's queue
};

TEST(LgAbstractDatabaseLoggerTest, SavesInBatchesByCountOnFlushAndByTime) {
    auto logger = std::make_shared<CountingDatabaseLogger>();
    EXPECT_EQ(logger->saveThreshold(), 500u);
    EXPECT_EQ(logger->saveInterval(), 60.0);
    EXPECT_EQ(logger->maxAge(), 604800.0);
    EXPECT_EQ(logger->deleteInterval(), 300.0);
    logger->loggerQueue()->sync([&] { logger->didAddLogger(); });

    logger->setSaveThreshold(3);
    for (const char* text : {"a", "refused", "b", "c", "d"}) logger->log(text);
    EXPECT_EQ(logger->counts().savedBatches, std::vector<int>{3});
    logger->flush();
    logger->flush();  // nothing new: no empty save
    EXPECT_EQ(logger->counts().savedBatches, (std::vector<int>{3, 1}));

    logger->setDeleteOnEverySave(true);
    logger->setSaveInterval(0.05);
    logger->log("e");
    ASSERT_TRUE(logger->waitFor([](const auto& c) { return c.saveAndDeletes == 1; }));

    logger->setDeleteInterval(0.02);
    ASSERT_TRUE(logger->waitFor([](const auto& c) { return c.deletes >= 2; }));  // repeats
    logger->setMaxAge(0);  // nothing is deleted any more
    const int deletes = logger->counts().deletes;
    logger->deleteOldLogEntries();
    EXPECT_EQ(logger->counts().deletes, deletes);

    logger->log("f");
    logger->loggerQueue()->sync([&] { logger->willRemoveLogger(); });
    EXPECT_EQ(logger->counts().stored, 6);
    EXPECT_EQ(logger->counts().saves + logger->counts().saveAndDeletes, 4);
}

TEST(SystemLogLoggersTest, SendWithoutFailingAndCheckTheirSetUp) {
    EXPECT_THROW(
        {
            try {
                LgOSLogger logger("org.example", std::nullopt);
            } catch (const foundation::NamedException& e) {
                EXPECT_EQ(e.reason(),
                          "Either both subsystem and category or neither should be nil.");
                throw;
            }
        },
        foundation::NamedException);
    LgOSLogger logger("org.example", "tests");
    EXPECT_EQ(logger.loggerName(), "orvandel.logging.osLogger");
    EXPECT_EQ(LgASLLogger::sharedInstance()->loggerName(), "orvandel.logging.aslLogger");
    EXPECT_EQ(LgTTYLogger::sharedInstance()->loggerName(), "LgTTYLogger");  // names no other
    // Whether or not a system log runs here, sending must not fail or block.
    logger.logMessage(record("journal test", LgLogFlagInfo));
    LgASLLogger::sharedInstance()->logMessage(record("syslog test", LgLogFlagDebug));
}

// A journal entry as the capture reads it, from the fields a sender wrote.
LgASLLogCapture::FieldReader entryOf(const std::vector<std::string>& fields) {
    return [fields](const char* name) -> std::optional<std::string> {
        const std::string prefix = std::string(name) + "=";
        for (const auto& field : fields)
            if (field.rfind(prefix, 0) == 0) return field.substr(prefix.size());
        return std::nullopt;
    };
}

// With the system-log logger and the capture both at work, what the logger sent is not
// captured back: each record reaches the hub once. What others wrote still comes in.
TEST(LgASLLogCaptureTest, LeavesOutWhatTheSystemLogLoggerSentAndTakesTheRest) {
    const auto sent = LgASLLogger::journalFields("[WARN] disk full", LgLogFlagWarning);
    EXPECT_NE(std::find(sent.begin(), sent.end(), "LGLOG=1"), sent.end());
    EXPECT_NE(std::find(sent.begin(), sent.end(), "PRIORITY=3"), sent.end());
    EXPECT_NE(std::find(sent.begin(), sent.end(), "READUID=" + std::to_string(::geteuid())),
              sent.end());
    EXPECT_FALSE(LgASLLogCapture::recordForEntry(entryOf(sent), std::nullopt));
    EXPECT_FALSE(LgASLLogCapture::recordForEntry(
        entryOf({"MESSAGE=from the journal logger", "PRIORITY=6", LgOSLogger::kSentByUsField}),
        std::nullopt));

    const auto library = LgASLLogCapture::recordForEntry(
        entryOf({"MESSAGE=a library speaks", "PRIORITY=3", "LGLOG=0"}), std::nullopt);
    ASSERT_TRUE(library);
    EXPECT_EQ(library->message(), "a library speaks");
    EXPECT_EQ(library->flag(), LgLogFlagWarning);
    EXPECT_EQ(library->fileName(), "LgASLLogCapture");
    EXPECT_FALSE(LgASLLogCapture::recordForEntry(entryOf({"MESSAGE=too chatty", "PRIORITY=8"}),
                                                 std::nullopt));
}

TEST(LgASLLogCaptureTest, StartsAndStopsAnyNumberOfTimes) {
    EXPECT_EQ(LgASLLogCapture::captureLevel(), 31u);
    for (int i = 0; i < 2; ++i) {
        const bool started = LgASLLogCapture::start();
        EXPECT_EQ(LgASLLogCapture::start(), started);  // a second start changes nothing
        LgASLLogCapture::stop();
        LgASLLogCapture::stop();
    }
}

}  // namespace
