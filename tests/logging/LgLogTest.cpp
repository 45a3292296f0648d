#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>
#include <memory>
#include <stdexcept>
#include <thread>

#include "foundation/Error.h"
#include "foundation/QueueLabel.h"
#include "foundation/SerialQueue.h"
#include "logging/CapturingLogger.h"
#include "logging/LgLog.h"
#include "support/Latch.h"

namespace {

LgLogMessage record(std::string text, std::uint64_t flag) {
    return LgLogMessage(std::move(text), 3, flag, 0, __FILE__, __func__, __LINE__, {}, 0,
                        std::nullopt);
}

// A private hub per test, so that tests do not see each other's loggers. The logging
// queue is shared, as in the process.
class LgLogTest : public testing::TestWithParam<unsigned> {
protected:
    void TearDown() override {
        hub.removeAllLoggers();
        hub.flushLog();
    }
    LgLog hub{GetParam()};
};

TEST_P(LgLogTest, SameLoggerTwiceWithOneLevelIsOneNodeWithTwoLevelsTwo) {
    auto logger = std::make_shared<CapturingLogger>();
    hub.addLogger(logger, 3);
    hub.addLogger(logger, 3);
    EXPECT_EQ(hub.allLoggers().size(), 1u);

    hub.addLogger(logger, 1);
    const auto info = hub.allLoggersWithLevel();
    ASSERT_EQ(info.size(), 2u);
    EXPECT_EQ(info[0].level, 3u);
    EXPECT_EQ(info[1].level, 1u);

    hub.log(false, record("error", 1));    // both nodes admit it
    hub.log(false, record("warning", 2));  // only the first
    EXPECT_EQ(logger->texts(), (std::vector<std::string>{"error", "error", "warning"}));
}

TEST_P(LgLogTest, EachLoggerGetsOnlyTheFlagsOfItsLevel) {
    auto errorsOnly = std::make_shared<CapturingLogger>("errors");
    auto everything = std::make_shared<CapturingLogger>("all");
    hub.addLogger(errorsOnly, 1);
    hub.addLogger(everything);
    hub.log(true, record("e", 1));
    hub.log(true, record("i", 4));
    hub.log(true, record("d", 16));
    hub.flushLog();
    EXPECT_EQ(errorsOnly->texts(), std::vector<std::string>{"e"});
    EXPECT_EQ(everything->texts(), (std::vector<std::string>{"e", "i", "d"}));
}

TEST_P(LgLogTest, FlushComesAfterEveryRecordQueuedBeforeIt) {
    auto first = std::make_shared<CapturingLogger>("first");
    auto second = std::make_shared<CapturingLogger>("second");
    hub.addLogger(first);
    hub.addLogger(second);
    for (int i = 0; i < 50; ++i) hub.log(true, record(std::to_string(i), 2));
    hub.flushLog();
    for (const auto& logger : {first, second}) {
        const auto events = logger->events();
        ASSERT_EQ(events.size(), 51u);
        EXPECT_EQ(events.front(), "0");
        EXPECT_EQ(events[49], "49");
        EXPECT_EQ(events.back(), "flush");
    }
}

TEST_P(LgLogTest, AFailingLoggerDoesNotKeepRecordsFromTheOthers) {
    auto failing = std::make_shared<CapturingLogger>("failing");
    failing->onMessage = [](const LgLogMessage&) { throw std::runtime_error("disk full"); };
    auto healthy = std::make_shared<CapturingLogger>("healthy");
    hub.addLogger(failing);
    hub.addLogger(healthy);
    hub.log(false, record("one", 1));
    hub.log(false, record("two", 1));
    EXPECT_EQ(healthy->texts(), (std::vector<std::string>{"one", "two"}));
}

TEST_P(LgLogTest, RemovedLoggersHearOfItAndGetNothingMore) {
    struct RemovalLogger : CapturingLogger {
        void willRemoveLogger() override { removed.count_down(); }
        testsupport::Latch removed{1};
    };
    auto logger = std::make_shared<RemovalLogger>();
    hub.addLogger(logger);
    hub.log(false, record("kept", 1));
    hub.removeLogger(logger);
    hub.log(false, record("dropped", 1));
    logger->removed.wait();
    EXPECT_EQ(logger->texts(), std::vector<std::string>{"kept"});
    EXPECT_TRUE(hub.allLoggers().empty());
}

TEST_P(LgLogTest, ALoggerAskingAnotherForItsFormatterIsRefusedNotStuck) {
    auto asked = std::make_shared<CapturingLogger>("asked");
    auto asking = std::make_shared<CapturingLogger>("asking");
    std::string reason;
    asking->onMessage = [&](const LgLogMessage&) {
        try {
            asked->logFormatter();
        } catch (const foundation::NamedException& e) {
            reason = e.reason();
        }
    };
    hub.addLogger(asked);
    hub.addLogger(asking);
    hub.log(false, record("error", 1));
    EXPECT_EQ(reason, "Core architecture requirement failure");
    EXPECT_EQ(asked->texts(), std::vector<std::string>{"error"});
}

TEST_P(LgLogTest, ALoneLoggerIsCalledHoldingItsOwnQueue) {
    // Delivery may run on the calling thread when the queues idle: the logger must still
    // find itself on its own queue, and off the logging queue.
    auto logger = std::make_shared<CapturingLogger>();
    std::vector<bool> onOwnQueue;  // only on the logger's queue
    logger->onMessage = [&](const LgLogMessage&) {
        onOwnQueue.push_back(logger->isOnInternalLoggerQueue() &&
                             !logger->isOnGlobalLoggingQueue() &&
                             foundation::QueueLabel::current() == "capture");
    };
    hub.addLogger(logger);
    for (int i = 0; i < 20; ++i) hub.log(i % 2 == 0, record("record", 1));
    hub.flushLog();
    logger->loggerQueue()->sync([&] { EXPECT_EQ(onOwnQueue, std::vector<bool>(20, true)); });
    EXPECT_EQ(logger->records().at(0).queueLabel(), foundation::QueueLabel::current());
}

TEST_P(LgLogTest, ARecordReachesEveryLoggerBeforeTheNextIsTaken) {
    // Two loggers on queues of their own. "first" is slow with record 1: it waits (bounded)
    // for "second" to be handed record 2, which must not happen before it is done.
    auto first = std::make_shared<CapturingLogger>("first");
    auto second = std::make_shared<CapturingLogger>("second");
    std::mutex mutex;
    std::condition_variable changed;
    int firstDone = 0, secondDone = 0, secondStarted = 0;
    std::vector<std::string> aheadOfTheOther;
    first->onMessage = [&](const LgLogMessage& message) {
        std::unique_lock lock(mutex);
        if (secondDone < std::stoi(message.message()) - 1) aheadOfTheOther.push_back("first");
        if (message.message() == "1") {
            changed.wait_for(lock, std::chrono::seconds(1), [&] { return secondStarted >= 2; });
        }
        ++firstDone;
    };
    second->onMessage = [&](const LgLogMessage& message) {
        std::lock_guard lock(mutex);
        if (firstDone < std::stoi(message.message()) - 1) aheadOfTheOther.push_back("second");
        ++secondStarted;
        changed.notify_all();
        ++secondDone;
    };
    hub.addLogger(first);
    hub.addLogger(second);
    hub.flushLog();
    // Both records wait on the logging queue, so that one delivery takes them together.
    testsupport::Latch release(1);
    LgLog::loggingQueue().async([&] { release.wait(); });
    for (const char* text : {"1", "2", "3"}) hub.log(true, record(text, 2));
    release.count_down();
    hub.flushLog();
    EXPECT_EQ(first->texts(), (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(second->texts(), (std::vector<std::string>{"1", "2", "3"}));
    std::lock_guard lock(mutex);
    EXPECT_EQ(aheadOfTheOther, std::vector<std::string>{});
}

TEST(LgLogBacklog, CallersWaitOnceTooManyRecordsWaitForASlowLogger) {
    constexpr std::int64_t kLimit = 4;
    constexpr int kRecords = 40;
    LgLog hub(4, kLimit);
    auto slow = std::make_shared<CapturingLogger>("slow");
    testsupport::Latch release(1);
    std::atomic<int> produced = 0;
    std::vector<int> producedAtArrival;  // only on the logger's queue
    slow->onMessage = [&](const LgLogMessage&) {
        release.wait();
        producedAtArrival.push_back(produced);
    };
    hub.addLogger(slow);
    std::thread producer([&] {
        for (int i = 0; i < kRecords; ++i) {
            hub.log(true, record(std::to_string(i), 2));
            produced = i + 1;
        }
    });
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (produced < kLimit && std::chrono::steady_clock::now() < limit) {
        std::this_thread::yield();
    }
    release.count_down();
    producer.join();
    hub.flushLog();
    ASSERT_EQ(slow->texts().size(), std::size_t{kRecords});
    slow->loggerQueue()->sync([&] {
        // While record k was delivered, at most the limit stood queued behind it.
        for (std::size_t k = 0; k < producedAtArrival.size(); ++k) {
            EXPECT_LE(producedAtArrival[k], static_cast<int>(k + kLimit + 1)) << k;
        }
    });
    hub.removeAllLoggers();
    hub.flushLog();
}

INSTANTIATE_TEST_SUITE_P(Processors, LgLogTest, testing::Values(1u, 4u));

TEST(LgLogLifetime, AHubDestroyedWithJobsQueuedRunsThemFirst) {
    testsupport::Latch gate(1);
    LgLog::loggingQueue().async([&] { gate.wait(); });  // holds the queue's jobs back
    auto logger = std::make_shared<CapturingLogger>();
    auto hub = std::make_unique<LgLog>(1u);
    hub->addLogger(logger);
    for (int i = 0; i < 3; ++i) hub->log(true, record("queued", 1));
    testsupport::Latch destroying(1);
    std::size_t deliveredWhenGone = 0;
    std::thread destroyer([&] {
        destroying.count_down();
        hub.reset();  // before the gate opens, with the three records still queued
        deliveredWhenGone = logger->texts().size();
    });
    destroying.wait();
    gate.count_down();
    destroyer.join();
    EXPECT_EQ(deliveredWhenGone, 3u);
}

TEST(LgLogDiscipline, FlushFromTheLoggingQueueIsRefused) {
    LgLog hub;
    std::string reason;
    LgLog::loggingQueue().sync([&] {
        try {
            hub.flushLog();
        } catch (const foundation::NamedException& e) {
            reason = e.reason();
        }
    });
    EXPECT_EQ(
        reason,
        "This method shouldn't be run on the logging thread/queue that make flush fast enough");
}

struct NamedFormatter : LgLogFormatter {
    explicit NamedFormatter(std::string prefix) : prefix(std::move(prefix)) {}
    std::optional<std::string> formatLogMessage(const LgLogMessage& message) override {
        return prefix + message.message();
    }
    void didAddToLoggerInQueue(LgLogger&, foundation::SerialQueue& queue) override {
        addedOnLoggerQueue = queue.isCurrent();
    }
    void willRemoveFromLogger(LgLogger&) override { removed = true; }
    std::string prefix;
    bool addedOnLoggerQueue = false;
    bool removed = false;
};

// Writes records through whatever formatter is set when the record arrives.
struct FormattingLogger : CapturingLogger {
    void logMessage(const LgLogMessage& message) override {
        auto text = logFormatter_ ? logFormatter_->formatLogMessage(message) : message.message();
        if (text) written.push_back(*text);
    }
    std::vector<std::string> written;  // only on the logger's queue
};

TEST(LgAbstractLoggerFormatter, ChangeTakesEffectAfterRecordsQueuedBeforeIt) {
    LgLog hub;
    auto logger = std::make_shared<FormattingLogger>();
    hub.addLogger(logger);
    auto first = std::make_shared<NamedFormatter>("1:");
    auto second = std::make_shared<NamedFormatter>("2:");
    logger->setLogFormatter(first);
    hub.log(true, record("a", 1));
    logger->setLogFormatter(second);
    hub.log(true, record("b", 1));
    EXPECT_EQ(logger->logFormatter(), second);
    hub.flushLog();
    logger->loggerQueue()->sync([&] {
        EXPECT_EQ(logger->written, (std::vector<std::string>{"1:a", "2:b"}));
    });
    EXPECT_TRUE(first->addedOnLoggerQueue);
    EXPECT_TRUE(first->removed);
    EXPECT_TRUE(second->addedOnLoggerQueue);
    EXPECT_FALSE(second->removed);
    hub.removeAllLoggers();
    hub.flushLog();
}

TEST(LgAbstractLoggerFormatter, ConfigurationIsRefusedFromTheQueuesItHopsThrough) {
    auto logger = std::make_shared<CapturingLogger>();
    std::string fromHub, fromOwnQueue;
    LgLog::loggingQueue().sync([&] {
        try {
            logger->logFormatter();
        } catch (const foundation::NamedException& e) {
            fromHub = e.reason();
        }
    });
    logger->loggerQueue()->sync([&] {
        try {
            logger->setLogFormatter(nullptr);
        } catch (const foundation::NamedException& e) {
            fromOwnQueue = e.reason();
        }
    });
    EXPECT_EQ(fromHub, "Core architecture requirement failure");
    EXPECT_EQ(fromOwnQueue, "MUST access ivar directly, NOT via self.* syntax.");
    EXPECT_EQ(logger->loggerQueue()->label(), "capture");
}

// Two classes of a program, and one that never registers.
struct ResponderForLevels {};
struct ManagerForLevels {};
struct Unregistered {};

TEST(LgLogClassLevelsTest, RegisteredClassesKeepALevelOfTheirOwn) {
    LgLog::registerClass<ResponderForLevels>("ResponderForLevels", 3);
    LgLog::registerClass<ManagerForLevels>("ManagerForLevels", 1);
    LgLog::registerClass<ResponderForLevels>("Again", 31);  // changes nothing
    const auto names = LgLog::registeredClassNames();
    const auto classes = LgLog::registeredClasses();
    ASSERT_GE(names.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(names.end() - 2, names.end()),
              (std::vector<std::string>{"ResponderForLevels", "ManagerForLevels"}));
    EXPECT_EQ(classes.end()[-2], std::type_index(typeid(ResponderForLevels)));
    EXPECT_TRUE(LgLog::isRegisteredClass(typeid(ManagerForLevels)));
    EXPECT_FALSE(LgLog::isRegisteredClass(typeid(Unregistered)));

    EXPECT_EQ(LgLog::levelForClass(typeid(ResponderForLevels)), 3);
    EXPECT_EQ(LgLog::levelForClassWithName("ManagerForLevels"), 1);
    LgLog::setLevelForClass(7, typeid(ResponderForLevels));
    LgLog::setLevelForClassWithName(-1, "ManagerForLevels");
    EXPECT_EQ(LgLog::levelForClassWithName("ResponderForLevels"), 7);
    EXPECT_EQ(LgLog::levelForClass(typeid(ManagerForLevels)), -1);

    LgLog::setLevelForClass(5, typeid(Unregistered));
    LgLog::setLevelForClassWithName(5, "Unregistered");
    EXPECT_EQ(LgLog::levelForClass(typeid(Unregistered)), -1);
    EXPECT_EQ(LgLog::levelForClassWithName("Unregistered"), -1);
    EXPECT_FALSE(LgLog::isRegisteredClass(typeid(Unregistered)));
}

}  // namespace
