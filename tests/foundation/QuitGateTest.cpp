#include <gtest/gtest.h>

#include <memory>

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

}  // namespace
