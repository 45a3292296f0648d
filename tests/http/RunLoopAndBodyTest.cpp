#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "FakeThrottleTarget.h"
#include "foundation/ScratchFolder.h"
#include "http/NetBandwidthThrottle.h"
#include "http/NetInputStream.h"
#include "http/NetNetworkThread.h"
#include "platform/net/NetRunLoop.h"
#include "support/Latch.h"

using net::NetRunLoop;
using namespace std::chrono_literals;

TEST(RunLoop, JobsAndTimersFireOnlyInTheirMode) {
    auto& loop = NetRunLoop::current();
    std::vector<std::string> fired;
    loop.perform("A", [&] { fired.push_back("job A"); });
    loop.perform("B", [&] { fired.push_back("job B"); });
    EXPECT_EQ(loop.runOnce("B", 5s), NetRunLoop::Result::HandledSource);
    EXPECT_EQ(fired, std::vector<std::string>{"job B"});
    // Job A waited while the loop ran in B; it is the next thing mode A handles.
    EXPECT_EQ(loop.runOnce("A", 5s), NetRunLoop::Result::HandledSource);
    EXPECT_EQ(fired.back(), "job A");
    EXPECT_EQ(loop.runOnce("A", 10ms), NetRunLoop::Result::TimedOut);

    int ticks = 0;
    auto timer = loop.addTimer("A", 1ms, true, [&] {
        if (++ticks == 3) fired.push_back("third tick");
    });
    while (ticks < 3) loop.runOnce("A", 5s);
    timer->invalidate();
    EXPECT_FALSE(timer->isValid());
    EXPECT_EQ(fired.back(), "third tick");
    EXPECT_EQ(loop.runOnce("A", 10ms), NetRunLoop::Result::TimedOut);
    EXPECT_EQ(ticks, 3);
}

// Timers share the loop's one wait for a deadline: one made after a later one still fires
// first, and ones stopped (also from another thread) or dropped neither fire nor keep the
// others from firing.
TEST(RunLoop, TimersFireInDeadlineOrderWhateverWasStopped) {
    auto& loop = NetRunLoop::current();
    std::vector<std::string> fired;
    auto late = loop.addTimer("A", 60ms, false, [&] { fired.push_back("late"); });
    auto stopped = loop.addTimer("A", 5ms, false, [&] { fired.push_back("stopped"); });
    auto early = loop.addTimer("A", 20ms, false, [&] { fired.push_back("early"); });
    auto dropped = loop.addTimer("A", 10ms, false, [&] { fired.push_back("dropped"); });
    std::thread([&] { stopped->invalidate(); }).join();
    dropped.reset();
    for (int turn = 0; turn < 30 && fired.size() < 2; ++turn) loop.runOnce("A", 1s);
    EXPECT_EQ(fired, (std::vector<std::string>{"early", "late"}));
    EXPECT_FALSE(early->isValid());
    EXPECT_FALSE(stopped->isValid());
    EXPECT_EQ(loop.runOnce("A", 10ms), NetRunLoop::Result::TimedOut);
}

TEST(RunLoop, NestedRunInAPrivateModeLeavesOuterJobsWaiting) {
    auto& loop = NetRunLoop::current();
    std::vector<std::string> order;
    loop.perform("outer", [&] {
        order.push_back("outer starts");
        loop.perform("outer", [&] { order.push_back("second outer"); });
        loop.perform("private", [&] { order.push_back("private"); });
        loop.runOnce("private", 5s);
        order.push_back("outer ends");
    });
    loop.runOnce("outer", 5s);
    loop.runOnce("outer", 5s);
    EXPECT_EQ(order,
              (std::vector<std::string>{"outer starts", "private", "outer ends", "second outer"}));
}

TEST(RunLoop, StopAndPerformWorkFromOtherThreads) {
    auto& loop = NetRunLoop::current();
    std::thread stopper([&] { loop.stop(); });
    EXPECT_EQ(loop.runOnce("A", 30s), NetRunLoop::Result::Stopped);
    stopper.join();
    bool ran = false;
    std::thread poster([&] { loop.perform("A", [&] { ran = true; }); });
    loop.runOnce("A", 30s);
    poster.join();
    EXPECT_TRUE(ran);
}

TEST(NetworkThread, RunsJobsOnOneThreadOfItsOwn) {
    auto& thread = NetNetworkThread::threadForRequest();
    EXPECT_EQ(&thread, &NetNetworkThread::threadForRequest());
    testsupport::Latch done(2);
    std::atomic<int> wrongThread{0};
    for (int i = 0; i < 2; ++i) {
        thread.perform([&] {
            if (std::this_thread::get_id() != thread.id()) ++wrongThread;
            done.count_down();
        });
    }
    done.wait();
    EXPECT_EQ(wrongThread, 0);
    EXPECT_NE(thread.id(), std::this_thread::get_id());
}

TEST(BodyStream, ReadsAreLimitedByTheAllowanceAndCounted) {
    auto data = std::make_shared<foundation::Data>(5000, 'b');
    struct Case {
        std::uint64_t limit;
        std::uint64_t usedBefore;
        std::size_t asked;
        std::ptrdiff_t got;
    };
    for (const Case& c : std::vector<Case>{{0, 0, 4096, 4096},
                                           {1000, 0, 4096, 250},
                                           {1000, 900, 4096, 100},
                                           {1000, 1100, 4096, 1},
                                           {100000, 0, 10, 10}}) {
        SCOPED_TRACE(c.limit * 10000 + c.usedBefore);
        NetBandwidthThrottle throttle;
        throttle.setMaxBandwidthPerSecond(c.limit);
        throttle.measureBandwidthUsage();
        throttle.incrementBandwidthUsedInLastSecond(c.usedBefore);
        FakeThrottleTarget request;
        auto stream = NetInputStream::inputStreamWithData(data, &request, throttle);
        stream->open();
        std::vector<std::uint8_t> buffer(c.asked);
        EXPECT_EQ(stream->read(buffer.data(), buffer.size()), c.got);
        // Whatever was read counts toward this second.
        throttle.setMaxBandwidthPerSecond(0);
        EXPECT_EQ(throttle.maxUploadReadLength(), 0u);
        throttle.measureBandwidthUsage();
        EXPECT_EQ(request.scheduled, c.usedBefore <= c.limit || c.limit == 0);
    }
}

TEST(BodyStream, FileBodyReadsToTheEndAndReportsAMissingFile) {
    foundationtest::ScratchFolder folder;
    std::ofstream(folder / "body") << "file body";
    NetBandwidthThrottle throttle;
    auto stream = NetInputStream::inputStreamWithFileAtPath(folder / "body", nullptr);
    stream->open();
    std::string read;
    std::uint8_t buffer[4];
    std::ptrdiff_t n;
    while ((n = stream->read(buffer, sizeof buffer)) > 0)
        read.append(reinterpret_cast<char*>(buffer), n);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(read, "file body");
    EXPECT_EQ(stream->streamStatus(), NetInputStream::Status::AtEnd);

    auto missing = NetInputStream::inputStreamWithFileAtPath(folder / "none", nullptr);
    missing->open();
    EXPECT_EQ(missing->streamStatus(), NetInputStream::Status::Error);
    EXPECT_TRUE(missing->streamError());
    EXPECT_EQ(missing->read(buffer, sizeof buffer), -1);
}
