#include <gtest/gtest.h>

#include <memory>

#include "foundation/SerialQueue.h"
#include "logging/CapturingLogger.h"
#include "logging/LogCall.h"

namespace {

using LogCallTest = SharedHubTest;

int bump(int& counter) {
    return ++counter;
}

TEST_F(LogCallTest, DisabledCallsEvaluateNothingAndEnabledOnesCarryTheirLevelWord) {
    SetLogLevel(3);
    int evaluated = 0;
    LogInfo("info {}", bump(evaluated));
    LogDebug("debug {}", bump(evaluated));
    EXPECT_EQ(evaluated, 0);

    LogWarn("warned {} times", bump(evaluated));
    LogError("failed: {}", "disk");
    LgLog::sharedInstance().flushLog();
    EXPECT_EQ(evaluated, 1);
    EXPECT_EQ(logger->texts(),
              (std::vector<std::string>{"[WARN] warned 1 times", "[ERROR] failed: disk"}));

    SetLogLevel(-1);
    LogInfo("plain {}", 7);
    LogDebug("deep");
    LgLog::sharedInstance().flushLog();
    const auto records = logger->records();
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[2].message(), "plain 7");
    EXPECT_EQ(records[2].flag(), LgLogFlagInfo);
    EXPECT_EQ(records[3].message(), "[DEBUG] deep");
    EXPECT_EQ(records[3].flag(), LgLogFlagVerbose);
}

TEST_F(LogCallTest, LevelIsStoredSignExtendedAndReadBackAsLowBits) {
    EXPECT_EQ(SetLogLevel(-1), -1);
    EXPECT_EQ(lgLogLevel.load(), ~std::uint64_t{0});
    EXPECT_EQ(GetLogLevel(), -1);
    SetLogLevel(5);
    EXPECT_EQ(lgLogLevel.load(), 5u);
}

TEST_F(LogCallTest, RecordDescribesTheCallSiteAndTheCallingQueue) {
    SetLogLevel(3);
    foundation::SerialQueue queue("test.caller");
    const unsigned expectedLine = __LINE__ + 1;
    queue.sync([] { LogError("from a queue"); });
    const auto records = logger->records();
    ASSERT_EQ(records.size(), 1u);  // errors are delivered before the call returns
    const auto& record = records[0];
    EXPECT_EQ(record.level(), 3u);
    EXPECT_EQ(record.flag(), LgLogFlagError);
    EXPECT_EQ(record.context(), 0);
    EXPECT_EQ(record.fileName(), "LogCallTest");
    EXPECT_EQ(record.line(), expectedLine);
    EXPECT_NE(record.function().find("TestBody"), std::string::npos) << record.function();
    EXPECT_EQ(record.queueLabel(), "test.caller");
    EXPECT_FALSE(record.threadID().empty());
    EXPECT_EQ(record.threadID().find_first_not_of("0123456789"), std::string::npos);
    EXPECT_FALSE(record.tag().has_value());
}

TEST_F(LogCallTest, ErrorFromTheLoggingQueueIsDeliveredInline) {
    LgLog::loggingQueue().sync([] { LogError("inside the hub"); });
    EXPECT_EQ(logger->texts(), std::vector<std::string>{"[ERROR] inside the hub"});
}

TEST_F(LogCallTest, ErrorFromALoggersOwnQueueDoesNotWaitForItself) {
    logger->onMessage = [](const LgLogMessage& message) {
        if (message.message() == "[WARN] trigger") LogError("raised by the logger");
    };
    LogWarn("trigger");
    LgLog::sharedInstance().flushLog();
    LgLog::sharedInstance().flushLog();  // the error was queued from the logger's queue
    EXPECT_EQ(logger->texts(),
              (std::vector<std::string>{"[WARN] trigger", "[ERROR] raised by the logger"}));
}

// Texts travel in buffers that delivered records hand back to the callers: each must reach
// every logger whole, however long it is and however often the buffers go round.
TEST_F(LogCallTest, TextsArriveWholeWhileTheirBuffersGoRound) {
    SetLogLevel(3);
    auto second = std::make_shared<CapturingLogger>("second");
    LgLog::sharedInstance().addLogger(second);
    std::vector<std::string> expected;
    for (int i = 0; i < 3000; ++i) {
        const std::string padding(static_cast<std::size_t>(i % 700),
                                  static_cast<char>('a' + i % 26));
        LogWarn("{} {}", i, padding);
        expected.push_back(fmt::format("[WARN] {} {}", i, padding));
        if (i % 500 == 0) LgLog::sharedInstance().flushLog();  // buffers come back meanwhile
    }
    LgLog::sharedInstance().flushLog();
    for (const auto& captured : {logger, second}) {
        const auto texts = captured->texts();
        ASSERT_EQ(texts.size(), expected.size());
        std::size_t damaged = 0;
        for (std::size_t i = 0; i < texts.size(); ++i) damaged += texts[i] != expected[i] ? 1 : 0;
        EXPECT_EQ(damaged, 0u) << captured->loggerName();
    }
}

TEST(LgExtractFileNameWithoutExtension, CutsAtTheLastDotOfTheLastComponent) {
    EXPECT_EQ(LgExtractFileNameWithoutExtension("/src/a.b/archive.tar.gz"), "archive.tar");
    EXPECT_EQ(LgExtractFileNameWithoutExtension("/src/a.b/Makefile"), "Makefile");
    EXPECT_EQ(LgExtractFileNameWithoutExtension("plain.cpp"), "plain");
    EXPECT_EQ(LgExtractFileNameWithoutExtension(""), "");
}

}  // namespace
