#include <gtest/gtest.h>

#include "shell/windows/RepeatedEnds.h"

namespace {

using namespace std::chrono_literals;

// Two ends within a minute still load the page again; the third gives up. Ends a minute
// apart or more never add up, and trying again starts afresh.
TEST(RepeatedEnds, TheThirdEndWithinAMinuteGivesUp) {
    const auto t0 = RepeatedEnds::Clock::time_point(1000s);
    RepeatedEnds ends;
    EXPECT_TRUE(ends.noteEndAt(t0));
    EXPECT_TRUE(ends.noteEndAt(t0 + 30s));
    EXPECT_FALSE(ends.noteEndAt(t0 + 59s));

    RepeatedEnds spaced;
    for (int i = 0; i < 10; ++i) EXPECT_TRUE(spaced.noteEndAt(t0 + i * 30s)) << i;

    RepeatedEnds again;
    again.noteEndAt(t0);
    again.noteEndAt(t0 + 1s);
    again.forget();
    EXPECT_TRUE(again.noteEndAt(t0 + 2s));
    EXPECT_TRUE(again.noteEndAt(t0 + 3s));
}

}  // namespace
