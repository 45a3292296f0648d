// Queued records are packed into shared chunks and unpacked on the logging queue: what a
// logger receives must be the record as it was logged, field for field, whatever its size
// and whichever hub it came through.

#include <gtest/gtest.h>

#include <any>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "foundation/SerialQueue.h"
#include "logging/CapturingLogger.h"
#include "logging/LgLog.h"

namespace {

using Clock = LgLogMessage::Clock;

// A text of exactly `size` bytes, different for each index where there is room.
std::string textOfSize(std::size_t size, int index) {
    std::string text = std::to_string(index) + ":";
    while (text.size() < size) text += static_cast<char>('a' + (text.size() + index) % 26);
    text.resize(size);
    return text;
}

void expectSameRecord(const LgLogMessage& got, const LgLogMessage& logged) {
    EXPECT_EQ(got.message(), logged.message());
    EXPECT_EQ(got.level(), logged.level());
    EXPECT_EQ(got.flag(), logged.flag());
    EXPECT_EQ(got.context(), logged.context());
    EXPECT_EQ(got.file(), logged.file());
    EXPECT_EQ(got.function(), logged.function());
    EXPECT_EQ(got.line(), logged.line());
    EXPECT_EQ(got.options(), logged.options());
    EXPECT_EQ(got.timestamp(), logged.timestamp());
    EXPECT_EQ(got.threadID(), logged.threadID());
    EXPECT_EQ(got.threadName(), logged.threadName());
    EXPECT_EQ(got.queueLabel(), logged.queueLabel());
    EXPECT_EQ(got.qos(), logged.qos());
    EXPECT_EQ(got.tag().has_value(), logged.tag().has_value());
}

TEST(LgQueuedRecords, LoggersGetEveryFieldOfEveryKindOfRecord) {
    LgLog hub;
    auto logger = std::make_shared<CapturingLogger>();
    hub.addLogger(logger);

    const auto when = Clock::time_point(std::chrono::milliseconds(1'234'567'890'123));
    std::vector<LgLogMessage> logged;
    // Owned source strings, a tag, options, a context and a time of its own.
    logged.emplace_back("owned", 7, 2, 41, std::string("/src/owned/File.cpp"),
                        std::string("void owned()"), 12, std::any(42), 3, when);
    // Literal source, no tag.
    logged.emplace_back("literal", 3, 1, 0, LgLogMessage::SourceLiterals{__FILE__, __func__},
                        __LINE__, std::any{}, 0, std::nullopt);
    // Empty text, and a text far larger than a chunk's room, then small ones again.
    logged.emplace_back("", 3, 4, -5, LgLogMessage::SourceLiterals{nullptr, nullptr}, 0,
                        std::any{}, 0, std::nullopt);
    logged.emplace_back(textOfSize(300'000, 3), 3, 2, 0, std::string("big.cpp"),
                        std::string("big"), 1, std::any{}, 0, std::nullopt);
    logged.emplace_back("after the big one", 3, 2, 0, std::string("small.cpp"),
                        std::string("small"), 2, std::any(std::string("tag")), 0, std::nullopt);
    for (const auto& record : logged) hub.log(true, record);

    // Made on a serial queue: the record names it.
    foundation::SerialQueue queue("orvandel.test.labelled");
    std::any tag = std::string("call tag");
    queue.sync([&] {
        hub.logMessage(true, "from a queue", 3, 2, 9, "call.cpp", "call()", 77, tag);
    });
    hub.flushLog();

    const auto got = logger->records();
    ASSERT_EQ(got.size(), logged.size() + 1);
    for (std::size_t i = 0; i < logged.size(); ++i) {
        SCOPED_TRACE(i);
        expectSameRecord(got[i], logged[i]);
    }
    EXPECT_EQ(std::any_cast<int>(got[0].tag()), 42);
    EXPECT_EQ(std::any_cast<std::string>(got[4].tag()), "tag");

    const auto& call = got.back();
    EXPECT_EQ(call.message(), "from a queue");
    EXPECT_EQ(call.context(), 9);
    EXPECT_EQ(call.file(), "call.cpp");
    EXPECT_EQ(call.function(), "call()");
    EXPECT_EQ(call.line(), 77u);
    EXPECT_EQ(call.queueLabel(), "orvandel.test.labelled");
    EXPECT_FALSE(call.threadID().empty());
    EXPECT_EQ(std::any_cast<std::string>(call.tag()), "call tag");
    EXPECT_LE(call.timestamp(), Clock::now());
    hub.removeAllLoggers();
    hub.flushLog();
}

// Consecutive records of one thread share that thread's texts when packed, and records with
// owned sources share them with the record before: each record still names its own thread,
// queue and source when the threads and sources alternate.
TEST(LgQueuedRecords, AlternatingThreadsAndSourcesKeepTheirOwnNames) {
    LgLog hub;
    auto logger = std::make_shared<CapturingLogger>();
    hub.addLogger(logger);
    foundation::SerialQueue a("orvandel.test.a");
    foundation::SerialQueue b("orvandel.test.b");
    const struct {
        foundation::SerialQueue* queue;
        const char* label;
        const char* file;
    } order[] = {{&a, "orvandel.test.a", "one.cpp"}, {&a, "orvandel.test.a", "one.cpp"},
                 {&b, "orvandel.test.b", "one.cpp"}, {&a, "orvandel.test.a", "two.cpp"},
                 {&b, "orvandel.test.b", "two.cpp"}, {&b, "orvandel.test.b", "one.cpp"}};
    std::vector<std::string> threads;
    for (std::size_t i = 0; i < std::size(order); ++i) {
        order[i].queue->sync([&] {
            const LgLogMessage record(std::to_string(i), 3, 2, 0, std::string(order[i].file),
                                      std::string("f"), 1, std::any{}, 0, std::nullopt);
            threads.push_back(record.threadID());
            hub.log(true, record);
        });
    }
    hub.flushLog();
    const auto got = logger->records();
    ASSERT_EQ(got.size(), std::size(order));
    for (std::size_t i = 0; i < got.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(got[i].message(), std::to_string(i));
        EXPECT_EQ(got[i].queueLabel(), order[i].label);
        EXPECT_EQ(got[i].file(), order[i].file);
        EXPECT_EQ(got[i].threadID(), threads[i]);
    }
    hub.removeAllLoggers();
    hub.flushLog();
}

TEST(LgQueuedRecords, RecordsOfTwoHubsKeepTheirOrderAndTheirHubAcrossManyChunks) {
    LgLog first;
    LgLog second;
    auto firstLogger = std::make_shared<CapturingLogger>("first");
    auto secondLogger = std::make_shared<CapturingLogger>("second");
    first.addLogger(firstLogger);
    second.addLogger(secondLogger);

    // Runs of one hub longer and shorter than what is handed over at a time, texts of
    // many sizes (some larger than a chunk), so that runs cross chunks.
    std::vector<std::string> toFirst;
    std::vector<std::string> toSecond;
    const std::size_t runLengths[] = {1, 300, 2, 257, 40, 1, 600, 3};
    const std::size_t sizes[] = {0, 10, 200, 5'000, 70'000, 64, 1};
    int index = 0;
    for (int round = 0; round < 3; ++round) {
        for (std::size_t r = 0; r < std::size(runLengths); ++r) {
            LgLog& hub = r % 2 == 0 ? first : second;
            auto& expected = r % 2 == 0 ? toFirst : toSecond;
            for (std::size_t i = 0; i < runLengths[r]; ++i, ++index) {
                std::string text = textOfSize(sizes[index % std::size(sizes)], index);
                hub.logMessage(true, text, 3, 2, 0, __FILE__, __func__, __LINE__, {});
                expected.push_back(std::move(text));
            }
        }
    }
    first.flushLog();
    second.flushLog();
    EXPECT_EQ(firstLogger->texts(), toFirst);
    EXPECT_EQ(secondLogger->texts(), toSecond);
    for (auto* hub : {&first, &second}) {
        hub->removeAllLoggers();
        hub->flushLog();
    }
}

}  // namespace
