#include "foundation/DispatchGroup.h"

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <stdexcept>

#include "foundation/SerialQueue.h"

namespace foundation {

struct DispatchGroup::State {
    std::mutex mutex;
    std::condition_variable empty;
    std::size_t count = 0;

    void enter() {
        std::lock_guard lock(mutex);
        ++count;
    }

    void leave() {
        std::lock_guard lock(mutex);
        if (count == 0) throw std::logic_error("DispatchGroup: leave() without a matching enter()");
        if (--count == 0) empty.notify_all();
    }
};

DispatchGroup::DispatchGroup() : state_(std::make_shared<State>()) {}

void DispatchGroup::enter() {
    state_->enter();
}

void DispatchGroup::leave() {
    state_->leave();
}

void DispatchGroup::wait() {
    std::unique_lock lock(state_->mutex);
    state_->empty.wait(lock, [this] { return state_->count == 0; });
}

bool DispatchGroup::finished() const {
    std::lock_guard lock(state_->mutex);
    return state_->count == 0;
}

void DispatchGroup::async(SerialQueue& queue, std::function<void()> job) {
    state_->enter();
    auto run = [state = state_, job = std::move(job)] {
        // Leaves however the job ends; its exception goes on to the queue.
        struct Leave {
            State& state;
            ~Leave() {
                try {
                    state.leave();
                } catch (const std::logic_error&) {
                    // Someone else's unmatched leave() already took this job's count.
                }
            }
        } leave{*state};
        job();
    };
    try {
        queue.async(std::move(run));
    } catch (...) {
        state_->leave();
        throw;
    }
}

}  // namespace foundation
