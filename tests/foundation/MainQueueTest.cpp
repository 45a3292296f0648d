#include "foundation/MainQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "support/MainLoop.h"

namespace foundation {
namespace {

TEST(MainQueue, SyncFromWorkerRunsOnMainThreadWhileTheLoopRuns) {
    std::atomic<bool> ranOnMain = false;
    std::atomic<bool> returned = false;
    std::thread worker([&] {
        MainQueue::sync([&] { ranOnMain = MainQueue::isMainThread(); });
        returned = true;
    });
    EXPECT_TRUE(testsupport::runMainLoopUntil([&] { return returned.load(); }));
    worker.join();
    EXPECT_TRUE(ranOnMain);
}

TEST(MainQueue, SyncOnMainThreadRunsInlineWithoutTheLoop) {
    bool ran = false;
    MainQueue::sync([&] {
        // A nested sync on the main thread must not wait for the loop either.
        MainQueue::sync([&] { ran = true; });
    });
    EXPECT_TRUE(ran);
}

TEST(MainQueue, ExceptionInSyncJobReachesTheCaller) {
    EXPECT_THROW(MainQueue::sync([] { throw std::runtime_error("inline"); }), std::runtime_error);

    std::atomic<bool> caught = false;
    std::atomic<bool> returned = false;
    std::thread worker([&] {
        try {
            MainQueue::sync([] { throw std::runtime_error("hop"); });
        } catch (const std::runtime_error& e) {
            caught = std::string(e.what()) == "hop";
        }
        returned = true;
    });
    EXPECT_TRUE(testsupport::runMainLoopUntil([&] { return returned.load(); }));
    worker.join();
    EXPECT_TRUE(caught);
}

TEST(MainQueue, AsyncJobsRunInOrderAndSurviveAThrowingJob) {
    std::vector<int> order;
    std::thread worker([&] {
        for (int i = 0; i < 50; ++i) {
            if (i == 10) MainQueue::async([] { throw std::runtime_error("lost"); });
            MainQueue::async([&order, i] { order.push_back(i); });
        }
    });
    worker.join();
    testing::internal::CaptureStderr();
    EXPECT_TRUE(testsupport::runMainLoopUntil([&] { return order.size() == 50; }));
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("lost"), std::string::npos);
    for (int i = 0; i < 50; ++i) ASSERT_EQ(order[i], i);
}

}  // namespace
}  // namespace foundation
