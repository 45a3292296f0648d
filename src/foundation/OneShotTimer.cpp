#include "foundation/OneShotTimer.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace foundation {

struct OneShotTimer::State {
    std::weak_ptr<SerialQueue::Core> queue;
    SerialQueue::TimerKey key;

    std::mutex mutex;
    std::condition_variable idle;
    std::function<void()> job;
    bool cancelled = false;
    bool running = false;
    std::thread::id runningOn;

    // Called on the queue when the deadline has come.
    static void fire(const std::shared_ptr<State>& state) {
        std::function<void()> job;
        {
            std::lock_guard lock(state->mutex);
            if (state->cancelled || !state->job) return;
            job = std::move(state->job);
            state->job = nullptr;
            state->running = true;
            state->runningOn = std::this_thread::get_id();
        }
        // Clears `running` however the job ends; its exception goes on to the queue.
        struct Finish {
            State& state;
            ~Finish() {
                std::lock_guard lock(state.mutex);
                state.running = false;
                state.idle.notify_all();
            }
        } finish{*state};
        job();
    }
};

OneShotTimer::OneShotTimer(SerialQueue& queue, std::chrono::steady_clock::duration delay,
                           std::function<void()> job)
    : state_(std::make_shared<State>()) {
    state_->queue = queue.core_;
    state_->job = std::move(job);
    state_->key = SerialQueue::scheduleTimer(*queue.core_, SerialQueue::Clock::now() + delay,
                                             [state = state_] { State::fire(state); });
}

OneShotTimer::~OneShotTimer() {
    cancel();
}

OneShotTimer& OneShotTimer::operator=(OneShotTimer&& other) noexcept {
    if (this != &other) {
        cancel();
        state_ = std::move(other.state_);
    }
    return *this;
}

void OneShotTimer::cancel() {
    if (!state_) return;
    std::function<void()> released;
    {
        std::unique_lock lock(state_->mutex);
        state_->cancelled = true;
        released = std::move(state_->job);
        state_->job = nullptr;
        if (state_->running && state_->runningOn != std::this_thread::get_id()) {
            state_->idle.wait(lock, [this] { return !state_->running; });
        }
    }
    if (auto core = state_->queue.lock()) SerialQueue::unscheduleTimer(*core, state_->key);
}

}  // namespace foundation
