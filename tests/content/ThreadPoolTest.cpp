#include <gtest/gtest.h>

#include <future>
#include <stdexcept>

#include "content/ThreadPool.h"
#include "foundation/OperationQueue.h"
#include "logging/CapturingLogger.h"
#include "logging/LogCall.h"
#include "support/Latch.h"

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
    ThreadPool::addAsyncJobWithBlock([] {});
    LgLog::sharedInstance().flushLog();
    const auto texts = logger->texts();
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0], "***** max operations: 512");
    EXPECT_EQ(texts[1].rfind("***** Operations in queue: ", 0), 0u) << texts[1];
    EXPECT_EQ(texts[2].rfind("***** Operations : ", 0), 0u) << texts[2];
}

TEST_F(ThreadPoolTest, JobsAddedFromAJobDoNotWaitForIt) {
    std::promise<void> innerRan;
    testsupport::Latch release(1);
    ThreadPool::addAsyncJobWithBlock([&] {
        ThreadPool::addAsyncJobWithBlock([&] { innerRan.set_value(); });
        release.wait();  // the outer job stays busy until the inner one has run
    });
    innerRan.get_future().wait();
    release.count_down();
    // The outer job still holds the latch on this frame until it returns.
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
