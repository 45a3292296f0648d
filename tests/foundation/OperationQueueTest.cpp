#include "foundation/OperationQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "foundation/QueueLabel.h"
#include "support/Latch.h"

using namespace foundation;
using namespace std::chrono_literals;

TEST(OperationQueue, JobsThatAddJobsAllComplete) {
    OperationQueue queue("orvandel.test.pool");
    std::atomic<int> ran = 0;
    for (int i = 0; i < 1000; ++i) {
        queue.addOperation([&] {
            ++ran;
            for (int child = 0; child < 2; ++child) queue.addOperation([&] { ++ran; });
        });
    }
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(ran, 3000);
    EXPECT_EQ(queue.operationCount(), 0u);
}

TEST(OperationQueue, GrowsWhenEveryWorkerIsBlocked) {
    OperationQueue queue("orvandel.test.blocked");
    constexpr int kBlocked = 64;
    testsupport::Latch started(kBlocked);
    testsupport::Latch release(1);
    for (int i = 0; i < kBlocked; ++i) {
        queue.addOperation([&] {
            started.count_down();
            release.wait();
        });
    }
    started.wait();
    std::promise<void> extra;
    queue.addOperation([&] { extra.set_value(); });
    const auto status = extra.get_future().wait_for(30s);
    EXPECT_EQ(queue.threadCount(), kBlocked + 1u);
    release.count_down();
    EXPECT_EQ(status, std::future_status::ready) << "the 65th job waited for the blocked ones";
    queue.waitUntilAllOperationsAreFinished();
}

TEST(OperationQueue, AJobWaitingForALaterJobDoesNotStarveIt) {
    // A job waits for one it adds itself, with no idle worker about.
    OperationQueue nested("orvandel.test.nested");
    std::promise<std::future_status> outcome;
    nested.addOperation([&] {
        auto child = std::make_shared<std::promise<void>>();
        auto childDone = child->get_future();
        nested.addOperation([child] { child->set_value(); });
        outcome.set_value(childDone.wait_for(30s));
    });
    EXPECT_EQ(outcome.get_future().get(), std::future_status::ready);
    nested.waitUntilAllOperationsAreFinished();

    // Two jobs added back to back while exactly one worker idles: the second must not
    // count on the worker the first has claimed.
    OperationQueue queue("orvandel.test.idle-claim");
    queue.addOperation([] {});
    queue.waitUntilAllOperationsAreFinished();
    auto second = std::make_shared<std::promise<void>>();
    std::promise<std::future_status> first;
    queue.addOperation(
        [&first, done = second->get_future().share()] { first.set_value(done.wait_for(30s)); });
    queue.addOperation([second] { second->set_value(); });
    EXPECT_EQ(first.get_future().get(), std::future_status::ready);
    queue.waitUntilAllOperationsAreFinished();
}

TEST(OperationQueue, ThrowingJobIsReportedAndThePoolGoesOn) {
    OperationQueue queue("orvandel.test.throw", 1);
    testing::internal::CaptureStderr();
    queue.addOperation([] { throw std::runtime_error("device vanished"); });
    std::atomic<int> ran = 0;
    for (int i = 0; i < 10; ++i) queue.addOperation([&] { ++ran; });
    queue.waitUntilAllOperationsAreFinished();
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_EQ(ran, 10);
    EXPECT_NE(errors.find("orvandel.test.throw"), std::string::npos) << errors;
    EXPECT_NE(errors.find("device vanished"), std::string::npos) << errors;
}

TEST(OperationQueue, IdleWorkersEndAndThePoolStartsAgain) {
    OperationQueue queue("orvandel.test.idle", 512, 1ms);
    queue.addOperation([] {});
    queue.waitUntilAllOperationsAreFinished();
    // Nothing reports the end of a worker; poll it, with a limit so a fault fails.
    const auto limit = std::chrono::steady_clock::now() + 30s;
    while (queue.threadCount() != 0 && std::chrono::steady_clock::now() < limit) {
        std::this_thread::yield();
    }
    ASSERT_EQ(queue.threadCount(), 0u);
    std::promise<void> again;
    queue.addOperation([&] { again.set_value(); });
    EXPECT_EQ(again.get_future().wait_for(30s), std::future_status::ready);
    queue.waitUntilAllOperationsAreFinished();
}

TEST(OperationQueue, WorkersCarryTheLabelAndCannotWaitForTheirOwnQueue) {
    OperationQueue queue("orvandel.test.label");
    std::string label;
    queue.addOperation([&] {
        label = QueueLabel::current();
        EXPECT_THROW(queue.waitUntilAllOperationsAreFinished(), std::logic_error);
    });
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(label, "orvandel.test.label");
}

TEST(OperationQueue, CapIsKeptAndReportedOnceAndDestructionRunsWhatIsQueued) {
    std::atomic<int> ran = 0, reports = 0;
    std::atomic<std::size_t> reportedCap = 0;
    testsupport::Latch reported(1), started(2), release(1);
    {
        OperationQueue queue("orvandel.test.cap", 2);
        queue.setCapReachedHandler([&](std::size_t cap) {
            reportedCap = cap;
            ++reports;
            reported.count_down();
        });
        for (int i = 0; i < 2; ++i) {
            queue.addOperation([&] {
                started.count_down();
                release.wait();
            });
        }
        started.wait();
        for (int i = 0; i < 20; ++i) queue.addOperation([&] { ++ran; });
        reported.wait();  // starved jobs found the pool full
        EXPECT_EQ(queue.threadCount(), 2u);
        EXPECT_EQ(queue.queuedCount(), 20u);
        EXPECT_EQ(queue.operationCount(), 22u);
        release.count_down();
    }
    EXPECT_EQ(ran, 20);
    EXPECT_EQ(reports, 1);
    EXPECT_EQ(reportedCap, 2u);
}
