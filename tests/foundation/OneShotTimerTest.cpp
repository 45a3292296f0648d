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

namespace foundation {
namespace {

using namespace std::chrono_literals;

TEST(OneShotTimer, FiresOnceOnItsQueueNoSoonerThanTheDelay) {
    SerialQueue queue("orvandel.test.timer");
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
    EXPECT_EQ(fired, 1);
    timer.cancel();  // after firing: nothing happens
    EXPECT_EQ(fired, 1);
}

TEST(OneShotTimer, AnEarlierTimerWakesAQueueWaitingForALaterOne) {
    SerialQueue queue("orvandel.test.timer-order");
    std::promise<void> early;
    OneShotTimer late(queue, 1h, [] { ADD_FAILURE() << "the late timer fired"; });
    OneShotTimer soon(queue, 1ms, [&] { early.set_value(); });
    EXPECT_EQ(early.get_future().wait_for(30s), std::future_status::ready);
}

TEST(OneShotTimer, CancelBeforeFiringDropsTheJobAndWhatItHolds) {
    auto held = std::make_shared<int>(7);
    std::weak_ptr<int> watch = held;
    SerialQueue queue("orvandel.test.timer-cancel");
    OneShotTimer timer(queue, 1h, [held = std::move(held)] { ADD_FAILURE() << "fired"; });
    EXPECT_FALSE(watch.expired());
    timer.cancel();
    EXPECT_TRUE(watch.expired());
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
    queue.sync([] {});
    EXPECT_FALSE(timer.has_value());
}

TEST(OneShotTimer, CancelFromAnotherThreadWaitsForAFiringUnderWay) {
    SerialQueue queue("orvandel.test.timer-wait");
    testsupport::Latch started(1);
    testsupport::Latch release(1);
    std::atomic<bool> finished = false;
    OneShotTimer timer(queue, 0ms, [&] {
        started.count_down();
        release.wait();
        finished = true;
    });
    started.wait();
    std::atomic<bool> finishedWhenCancelReturned = false;
    testsupport::Latch cancelling(1);
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

TEST(OneShotTimer, HandleMayOutliveItsQueue) {
    std::optional<SerialQueue> queue(std::in_place, "orvandel.test.timer-orphan");
    OneShotTimer timer(*queue, 1h, [] { ADD_FAILURE() << "fired"; });
    queue.reset();  // drops the timer, which is not due, without waiting for it
    timer.cancel();
}

}  // namespace
}  // namespace foundation
