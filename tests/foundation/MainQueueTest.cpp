#include "foundation/MainQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "support/MainLoop.h"

using namespace foundation;

TEST(MainQueue, SyncFromAWorkerRunsOnTheMainThreadAndPassesExceptionsBack) {
    std::atomic<bool> ranOnMain = false, caught = false, returned = false;
    std::thread worker([&] {
        MainQueue::sync([&] { ranOnMain = MainQueue::isMainThread(); });
        try {
            MainQueue::sync([] { throw std::runtime_error("hop"); });
        } catch (const std::runtime_error& e) {
            caught = std::string(e.what()) == "hop";
        }
        returned = true;
    });
    EXPECT_TRUE(testsupport::runMainLoopUntil([&] { return returned.load(); }));
    worker.join();
    EXPECT_TRUE(ranOnMain);
    EXPECT_TRUE(caught);
}

TEST(MainQueue, SyncOnTheMainThreadRunsInlineWithoutTheLoop) {
    bool ran = false;
    MainQueue::sync([&] { MainQueue::sync([&] { ran = true; }); });  // nested, too
    EXPECT_TRUE(ran);
    EXPECT_THROW(MainQueue::sync([] { throw std::runtime_error("inline"); }), std::runtime_error);
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
    EXPECT_NE(testing::internal::GetCapturedStderr().find("lost"), std::string::npos);
    for (int i = 0; i < 50; ++i) ASSERT_EQ(order[i], i);
}
