#include "foundation/DispatchGroup.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "foundation/SerialQueue.h"
#include "support/Latch.h"

namespace foundation {
namespace {

TEST(DispatchGroup, WaitReturnsOnceEveryJobOnEveryQueueHasRun) {
    SerialQueue first("orvandel.test.group-1");
    SerialQueue second("orvandel.test.group-2");
    testsupport::Latch release(1);
    first.async([&] { release.wait(); });  // keeps the group's jobs waiting
    DispatchGroup group;
    std::atomic<int> ran = 0;
    for (int i = 0; i < 50; ++i) {
        group.async(i % 2 ? first : second, [&] { ++ran; });
    }
    std::thread waiter([&] {
        group.wait();
        EXPECT_EQ(ran, 50);
    });
    release.count_down();
    waiter.join();
}

TEST(DispatchGroup, LeaveWithoutEnterIsAnError) {
    DispatchGroup group;
    group.wait();  // empty: returns at once
    EXPECT_THROW(group.leave(), std::logic_error);
    group.enter();
    group.leave();
    EXPECT_THROW(group.leave(), std::logic_error);
}

TEST(DispatchGroup, AThrowingJobStillLeaves) {
    SerialQueue queue("orvandel.test.group-throw");
    DispatchGroup group;
    testing::internal::CaptureStderr();
    group.async(queue, [] { throw std::runtime_error("job failed"); });
    group.wait();
    queue.sync([] {});  // the report comes after the job has left the group
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("job failed"), std::string::npos);
}

}  // namespace
}  // namespace foundation
