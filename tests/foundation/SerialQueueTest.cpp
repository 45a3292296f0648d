#include "foundation/SerialQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "foundation/QueueLabel.h"
#include "support/Latch.h"

using namespace foundation;

TEST(SerialQueue, RunsJobsOneAtATimeInQueueOrderOnItsOwnThread) {
    SerialQueue queue("orvandel.test.order");
    std::vector<int> order;
    std::set<std::thread::id> threads;
    std::atomic<int> inside = 0;
    std::atomic<bool> overlapped = false;
    // Two producers: each one's jobs keep their order, and no two jobs overlap.
    auto produce = [&](int base) {
        for (int i = 0; i < 500; ++i) {
            queue.async([&, value = base + i] {
                if (inside.fetch_add(1) != 0) overlapped = true;
                order.push_back(value);
                threads.insert(std::this_thread::get_id());
                inside.fetch_sub(1);
            });
        }
    };
    std::thread other(produce, 10000);
    produce(0);
    other.join();
    queue.sync([] {});

    ASSERT_EQ(order.size(), 1000u);
    EXPECT_FALSE(overlapped);
    EXPECT_EQ(threads.size(), 1u);
    EXPECT_NE(*threads.begin(), std::this_thread::get_id());
    int last[2] = {-1, 9999};
    for (int value : order) {
        ASSERT_GT(value, last[value >= 10000]);
        last[value >= 10000] = value;
    }
}

TEST(SerialQueue, SyncWaitsForEarlierJobsAndRunsInlineOnTheQueue) {
    SerialQueue queue("orvandel.test.sync");
    std::vector<int> order;
    queue.async([&] { order.push_back(1); });
    queue.sync([&] {
        order.push_back(2);
        // Re-entering the queue from itself must not deadlock.
        queue.sync([&] { order.push_back(3); });
        order.push_back(4);
    });
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
}

TEST(SerialQueue, ExceptionsReachTheSyncCallerOrStderrAndTheQueueGoesOn) {
    SerialQueue queue("orvandel.test.throw");
    testing::internal::CaptureStderr();
    queue.async([] { throw std::runtime_error("disk gone"); });
    queue.async([] { throw 42; });
    EXPECT_THROW(queue.sync([] { throw std::runtime_error("broken"); }), std::runtime_error);
    queue.sync([] {});  // still serving
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("orvandel.test.throw"), std::string::npos) << errors;
    EXPECT_NE(errors.find("disk gone"), std::string::npos) << errors;
    EXPECT_NE(errors.find("unknown exception"), std::string::npos) << errors;
    EXPECT_EQ(errors.find("broken"), std::string::npos) << errors;
}

TEST(SerialQueue, DestructionRunsWhatWasQueued) {
    testsupport::Latch release(1);
    int ran = 0;
    {
        SerialQueue queue("orvandel.test.drain");
        queue.async([&] { release.wait(); });
        for (int i = 0; i < 100; ++i) {
            queue.async([&] {
                ++ran;
                // Jobs queued while the queue drains run as well.
                if (ran == 100) queue.async([&] { ++ran; });
            });
        }
        release.count_down();
    }
    EXPECT_EQ(ran, 101);
}

TEST(SerialQueue, LastOwnerLettingGoFromItsOwnJobLeavesTheWorkerToFinish) {
    auto queue = std::make_shared<SerialQueue>("orvandel.test.self");
    auto laterJob = std::make_shared<std::promise<SerialQueue*>>();
    testsupport::Latch queued(1);
    queue->async([&queued, queue] { queued.wait(); });  // holds a reference until it ends
    queue->async([laterJob] { laterJob->set_value(SerialQueue::current()); });
    queue.reset();
    queued.count_down();
    // The first job's captures released the queue object on its own worker; the job
    // queued after it still runs, on a queue that no longer exists.
    auto future = laterJob->get_future();
    ASSERT_EQ(future.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_EQ(future.get(), nullptr);
}

TEST(SerialQueue, AJobMayDropTheLastOwnerWhileItIsBeingQueued) {
    // The queue's only owner travels inside the job being queued: as soon as the worker
    // can run it, the queue is gone, while async() may not have returned yet. Each round
    // keeps the worker busy so that it picks the job up at once.
    for (int round = 0; round < 300; ++round) {
        auto owner = std::make_shared<SerialQueue>("orvandel.test.drop");
        SerialQueue* queue = owner.get();
        testsupport::Latch started(1);
        std::atomic<bool> release = false;
        queue->async([&] {
            started.count_down();
            while (!release) std::this_thread::yield();
        });
        started.wait();
        std::promise<void> dropped;
        auto done = dropped.get_future();
        std::thread releaser([&] { release = true; });
        queue->async([owner = std::move(owner), &dropped]() mutable {
            owner.reset();
            dropped.set_value();
        });
        releaser.join();
        done.wait();
    }
}

TEST(SerialQueue, SyncOnAnIdleQueueRunsOnTheCallerHoldingTheQueue) {
    SerialQueue queue("orvandel.test.inline");
    SerialQueue unnamed("");
    EXPECT_EQ(SerialQueue::current(), nullptr);
    queue.sync([] {});  // the worker has started and idles
    const std::string ownLabel(QueueLabel::current());
    std::thread::id ranOn;
    bool marked = false;
    std::vector<int> order;
    testsupport::Latch asyncQueued(1);
    std::thread other;
    queue.sync([&] {
        ranOn = std::this_thread::get_id();
        marked = queue.isCurrent() && SerialQueue::current() == &queue &&
                 QueueLabel::current() == "orvandel.test.inline";
        unnamed.sync([&] {
            marked = marked && SerialQueue::current() == &unnamed && !queue.isCurrent() &&
                     QueueLabel::current().empty();
        });
        // A job queued meanwhile waits until this one is done.
        other = std::thread([&] {
            queue.async([&] { order.push_back(2); });
            asyncQueued.count_down();
        });
        asyncQueued.wait();
        order.push_back(1);
    });
    other.join();
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_TRUE(marked);
    EXPECT_FALSE(queue.isCurrent());
    EXPECT_EQ(QueueLabel::current(), ownLabel);
    queue.sync([] {});
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TEST(SerialQueue, SyncOnABusyQueueWaitsItsTurn) {
    SerialQueue queue("orvandel.test.turn");
    testsupport::Latch running(1), release(1);
    std::vector<int> order;
    EXPECT_FALSE(queue.hasQueuedJobs());
    queue.async([&] {
        running.count_down();
        release.wait();
        order.push_back(1);
    });
    queue.async([&] { order.push_back(2); });
    running.wait();
    EXPECT_TRUE(queue.hasQueuedJobs());  // the second job; the running one no longer counts
    std::thread releaser([&] { release.count_down(); });
    queue.sync([&] {
        order.push_back(3);
        EXPECT_FALSE(queue.hasQueuedJobs());
    });
    releaser.join();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(SerialQueue, LastOwnerLettingGoInsideASyncJobOnTheCallerDoesNotHang) {
    auto queue = std::make_shared<SerialQueue>("orvandel.test.sync-drop");
    queue->sync([] {});
    auto later = std::make_shared<std::promise<void>>();
    SerialQueue* raw = queue.get();
    raw->sync([&] {
        raw->async([later] { later->set_value(); });
        queue.reset();
    });
    EXPECT_EQ(later->get_future().wait_for(std::chrono::seconds(30)), std::future_status::ready);
}
