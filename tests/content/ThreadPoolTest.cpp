#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <stdexcept>
#include <thread>

#include "content/ThreadPool.h"
#include "foundation/OperationQueue.h"
#include "logging/CapturingLogger.h"
#include "logging/LogCall.h"

namespace {

class ThreadPoolTest : public SharedHubTest {
protected:
    void TearDown() override {
        ThreadPool::async().waitUntilAllOperationsAreFinished();
        SharedHubTest::TearDown();
    }
};

TEST_F(ThreadPoolTest, LogsQueueFiguresOnlyWhenInfoIsOn) {
    SetLogLevel(3);
    ThreadPool::addAsyncJobWithBlock([] {});
    ThreadPool::async().waitUntilAllOperationsAreFinished();
    LgLog::sharedInstance().flushLog();
    EXPECT_TRUE(logger->texts().empty());

    SetLogLevel(7);
    // A job still running counts among the operations in the queue.
    // The job holds its own ends of both: it may still run once the test has ended.
    auto release = std::make_shared<std::promise<void>>();
    auto started = std::make_shared<std::promise<void>>();
    auto hasStarted = started->get_future();
    ThreadPool::addAsyncJobWithBlock([started, released = release->get_future().share()] {
        started->set_value();
        released.wait();
    });
    hasStarted.wait();
    LgLog::sharedInstance().flushLog();
    const std::size_t before = logger->texts().size();
    ThreadPool::addAsyncJobWithBlock([] {});
    release->set_value();
    LgLog::sharedInstance().flushLog();
    auto texts = logger->texts();
    texts.erase(texts.begin(), texts.begin() + std::ptrdiff_t(before));
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0], "***** max operations: 512");
    EXPECT_EQ(texts[1], "***** Operations in queue: 1");
    EXPECT_EQ(texts[2], "***** Operations : 1");
}

TEST_F(ThreadPoolTest, JobsAddedFromAJobDoNotWaitForIt) {
    // The outer job stays busy until the inner one has run (for a generous while at most,
    // so that a pool where the inner job waits fails rather than hangs). The jobs share
    // what they note, which outlives this frame should the pool never run them.
    struct Notes {
        std::promise<std::thread::id> innerRan;
        std::promise<void> outerDone;
        std::thread::id outerThread, innerThread;
        bool innerRanWhileOuterWaited = false;
    };
    auto notes = std::make_shared<Notes>();
    auto outerDone = notes->outerDone.get_future();
    ThreadPool::addAsyncJobWithBlock([notes] {
        notes->outerThread = std::this_thread::get_id();
        auto inner = notes->innerRan.get_future();
        ThreadPool::addAsyncJobWithBlock(
            [notes] { notes->innerRan.set_value(std::this_thread::get_id()); });
        notes->innerRanWhileOuterWaited =
            inner.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
        if (notes->innerRanWhileOuterWaited) notes->innerThread = inner.get();
        notes->outerDone.set_value();
    });
    ASSERT_EQ(outerDone.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    EXPECT_TRUE(notes->innerRanWhileOuterWaited);
    EXPECT_NE(notes->innerThread, notes->outerThread);
    EXPECT_NE(notes->outerThread, std::this_thread::get_id());
    EXPECT_NE(notes->innerThread, std::this_thread::get_id());
    ThreadPool::async().waitUntilAllOperationsAreFinished();
}

TEST_F(ThreadPoolTest, AnExceptionInAJobIsLoggedAndThePoolGoesOn) {
    ThreadPool::addAsyncJobWithBlock([] { throw std::runtime_error("device vanished"); });
    std::promise<void> later;
    ThreadPool::addAsyncJobWithBlock([&] { later.set_value(); });
    later.get_future().wait();
    ThreadPool::async().waitUntilAllOperationsAreFinished();
    LgLog::sharedInstance().flushLog();
    EXPECT_EQ(logger->texts(),
              std::vector<std::string>{
                  "[ERROR] background job ended with an exception: device vanished"});
}

}  // namespace
