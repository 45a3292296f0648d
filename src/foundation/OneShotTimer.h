#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include "foundation/SerialQueue.h"

namespace foundation {

// Runs a job once on a serial queue after a delay. Destroying the handle cancels.
class OneShotTimer {
public:
    OneShotTimer(SerialQueue& queue, std::chrono::steady_clock::duration delay,
                 std::function<void()> job);
    ~OneShotTimer();

    OneShotTimer(OneShotTimer&&) noexcept = default;
    OneShotTimer& operator=(OneShotTimer&& other) noexcept;
    OneShotTimer(const OneShotTimer&) = delete;
    OneShotTimer& operator=(const OneShotTimer&) = delete;

    // After this returns the job will not start, and is not running either unless
    // cancel() was called from the job itself: a firing under way on the queue is waited
    // for, so that what the job uses may be destroyed right after. Safe from any thread,
    // more than once, and after the timer fired. The job is released at once.
    void cancel();

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace foundation
