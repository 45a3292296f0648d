#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "foundation/DispatchGroup.h"
#include "foundation/QuitGate.h"

using foundation::DispatchGroup;
using foundation::QuitGate;

namespace {

// The quit stops the work inside and waits until each has let its pass go; work that ended
// before is not stopped, and none enters once the quit has begun.
TEST(QuitGate, TheQuitStopsTheWorkInsideWaitsForItAndLetsNoneIn) {
    QuitGate gate;
    int stoppedA = 0, stoppedB = 0, stoppedEnded = 0;
    auto a = gate.enter([&] { ++stoppedA; });
    auto b = gate.enter([&] { ++stoppedB; });
    auto ended = gate.enter([&] { ++stoppedEnded; });
    ASSERT_TRUE(a && b && ended);
    ended.reset();
    EXPECT_FALSE(gate.closed());

    auto finishing = std::make_shared<DispatchGroup>();
    QuitGate sameGate = gate;  // a handle of the same gate
    sameGate.close(finishing);
    EXPECT_TRUE(gate.closed());
    EXPECT_EQ(stoppedA, 1);
    EXPECT_EQ(stoppedB, 1);
    EXPECT_EQ(stoppedEnded, 0);
    bool stoppedLate = false;
    EXPECT_EQ(gate.enter([&] { stoppedLate = true; }), nullptr);

    EXPECT_FALSE(finishing->finished());
    a.reset();
    EXPECT_FALSE(finishing->finished());
    b.reset();
    EXPECT_TRUE(finishing->finished());
    EXPECT_FALSE(stoppedLate);

    // Another gate is not closed by this one.
    QuitGate other;
    EXPECT_NE(other.enter({}), nullptr);
}

// Work starting on other threads while the quit begins is either refused or stopped and
// waited for: none slips in unseen.
TEST(QuitGate, WorkStartingWhileTheQuitBeginsIsRefusedOrStoppedAndWaitedFor) {
    QuitGate gate;
    constexpr int kThreads = 8;
    std::atomic<int> started{0};
    std::atomic<int> unstoppedAfterQuit{0};
    auto finishing = std::make_shared<DispatchGroup>();
    std::vector<std::thread> workers;
    for (int i = 0; i < kThreads; ++i) {
        workers.emplace_back([&] {
            started.fetch_add(1);
            while (true) {
                auto stopped = std::make_shared<std::atomic<bool>>(false);
                auto pass = gate.enter([stopped] { stopped->store(true); });
                if (!pass) return;
                // Work inside once the gate has closed must have been stopped by the time the
                // quit's group is told it ended.
                if (gate.closed() && !stopped->load()) {
                    // The stop may still be on its way from the closing thread.
                    while (!stopped->load()) std::this_thread::yield();
                }
                if (gate.closed() && finishing->finished()) unstoppedAfterQuit.fetch_add(1);
            }
        });
    }
    while (started.load() < kThreads) std::this_thread::yield();
    gate.close(finishing);
    for (auto& worker : workers) worker.join();
    EXPECT_TRUE(finishing->finished());
    EXPECT_EQ(unstoppedAfterQuit.load(), 0);
}

}  // namespace
