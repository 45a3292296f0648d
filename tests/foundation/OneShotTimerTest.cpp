#include "foundation/OneShotTimer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <thread>

#include "foundation/SerialQueue.h"
#include "support/Latch.h"

using namespace foundation;
using namespace std::chrono_literals;

TEST(OneShotTimer, FiresOnceOnItsQueueNoSoonerThanTheDelay) {
    SerialQueue queue("orvandel.test.timer");
    // The queue, waiting for the late timer, must wake for the earlier one.
    OneShotTimer late(queue, 1h, [] { ADD_FAILURE() << "the late timer fired"; });
    std::atomic<int> fired = 0;
    std::promise<bool> onQueue;
    const auto start = std::chrono::steady_clock::now();
    OneShotTimer timer(queue, 20ms, [&] {
        if (fired.fetch_add(1) == 0) onQueue.set_value(queue.isCurrent());
    });
    auto future = onQueue.get_future();
    ASSERT_EQ(future.wait_for(30s), std::future_status::ready);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 20ms);
    EXPECT_TRUE(future.get());
    queue.sync([] {});
    timer.cancel();  // after firing: nothing happens
    EXPECT_EQ(fired, 1);
}

TEST(OneShotTimer, CancelDropsTheJobAndWhatItHolds) {
    auto held = std::make_shared<int>(7);
    std::weak_ptr<int> watch = held;
    SerialQueue queue("orvandel.test.timer-cancel");
    OneShotTimer timer(queue, 1h, [held = std::move(held)] { ADD_FAILURE() << "fired"; });
    timer.cancel();
    EXPECT_TRUE(watch.expired());

    // A handle may outlive its queue, which drops the timer without waiting for it.
    std::optional<SerialQueue> orphaned(std::in_place, "orvandel.test.timer-orphan");
    OneShotTimer orphan(*orphaned, 1h, [] { ADD_FAILURE() << "fired"; });
    orphaned.reset();
    orphan.cancel();
}

TEST(OneShotTimer, CancelOfADueTimerWhileTheQueueIsBusy) {
    SerialQueue queue("orvandel.test.timer-busy");
    testsupport::Latch release(1);
    bool fired = false;
    std::optional<OneShotTimer> cancelledOnQueue;
    queue.async([&] {
        release.wait();
        cancelledOnQueue->cancel();
    });
    // Both are due at once, so they queue up behind the blocking job.
    cancelledOnQueue.emplace(queue, 0ms, [&] { fired = true; });
    std::optional<OneShotTimer> destroyed(std::in_place, queue, 0ms, [&] { fired = true; });
    destroyed.reset();
    release.count_down();
    queue.sync([] {});
    EXPECT_FALSE(fired);
}

TEST(OneShotTimer, JobMayDestroyItsOwnHandle) {
    SerialQueue queue("orvandel.test.timer-self");
    std::optional<OneShotTimer> timer;
    std::promise<void> done;
    queue.sync([&] {
        timer.emplace(queue, 0ms, [&] {
            timer.reset();
            done.set_value();
        });
    });
    EXPECT_EQ(done.get_future().wait_for(30s), std::future_status::ready);
}

TEST(OneShotTimer, CancelFromAnotherThreadWaitsForAFiringUnderWay) {
    SerialQueue queue("orvandel.test.timer-wait");
    testsupport::Latch started(1), cancelling(1), release(1);
    std::atomic<bool> finished = false;
    std::atomic<bool> finishedWhenCancelReturned = false;
    OneShotTimer timer(queue, 0ms, [&] {
        started.count_down();
        release.wait();
        finished = true;
    });
    started.wait();
    std::thread canceller([&] {
        cancelling.count_down();
        timer.cancel();
        finishedWhenCancelReturned = finished.load();
    });
    // The canceller is (almost always) inside cancel() by the time this thread wakes.
    cancelling.wait();
    release.count_down();
    canceller.join();
    EXPECT_TRUE(finishedWhenCancelReturned);
}
