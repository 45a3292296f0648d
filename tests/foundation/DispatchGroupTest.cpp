#include "foundation/DispatchGroup.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "foundation/SerialQueue.h"
#include "support/Latch.h"

using namespace foundation;

TEST(DispatchGroup, WaitReturnsOnceEveryJobOnEveryQueueHasRun) {
    SerialQueue first("orvandel.test.group-1");
    SerialQueue second("orvandel.test.group-2");
    testsupport::Latch release(1);
    first.async([&] { release.wait(); });  // keeps the group's jobs waiting
    DispatchGroup group;
    std::atomic<int> ran = 0;
    testing::internal::CaptureStderr();
    group.async(first, [] { throw std::runtime_error("job failed"); });  // still leaves
    for (int i = 0; i < 50; ++i) group.async(i % 2 ? first : second, [&] { ++ran; });
    std::thread releaser([&] { release.count_down(); });
    group.wait();
    EXPECT_EQ(ran, 50);
    releaser.join();
    first.sync([] {});  // the report comes after the job has left the group
    EXPECT_NE(testing::internal::GetCapturedStderr().find("job failed"), std::string::npos);
}

TEST(DispatchGroup, LeaveWithoutEnterIsAnError) {
    DispatchGroup group;
    group.wait();  // empty: returns at once
    EXPECT_THROW(group.leave(), std::logic_error);
    group.enter();
    group.leave();
    EXPECT_THROW(group.leave(), std::logic_error);
}
