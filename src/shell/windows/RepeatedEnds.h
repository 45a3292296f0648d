#pragma once

#include <chrono>
#include <deque>

// Counts the ends of a view's web process, to tell a one-off end (load the page again) from
// a process that ends again and again (stop, or the window would only flicker and burn).
class RepeatedEnds {
public:
    using Clock = std::chrono::steady_clock;
    // Three ends within a minute are too many.
    static constexpr int kMostEnds = 3;
    static constexpr std::chrono::seconds kWithin{60};

    // Notes an end at `now`; true while the page is still worth loading again.
    bool noteEndAt(Clock::time_point now);
    // A fresh start (the person asked to try again).
    void forget() { ends_.clear(); }

private:
    std::deque<Clock::time_point> ends_;
};
