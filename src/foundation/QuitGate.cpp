#include "foundation/QuitGate.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "foundation/DispatchGroup.h"

namespace foundation {

struct QuitGate::Pass::State {
    struct Inside {
        std::function<void()> stop;
        // The quits waiting for this work to end.
        std::vector<std::shared_ptr<DispatchGroup>> waiting;
    };
    mutable std::mutex mutex;
    bool closed = false;
    std::uint64_t nextId = 0;
    std::map<std::uint64_t, Inside> inside;
};

QuitGate::QuitGate() : state_(std::make_shared<Pass::State>()) {}

QuitGate& QuitGate::application() {
    static QuitGate* const gate = new QuitGate();
    return *gate;
}

QuitGate::Pass::Pass(std::shared_ptr<State> state, std::uint64_t id)
    : state_(std::move(state)), id_(id) {}

QuitGate::Pass::~Pass() {
    std::vector<std::shared_ptr<DispatchGroup>> waiting;
    {
        std::lock_guard lock(state_->mutex);
        const auto found = state_->inside.find(id_);
        if (found == state_->inside.end()) return;
        waiting.swap(found->second.waiting);
        state_->inside.erase(found);
    }
    for (const auto& group : waiting) group->leave();
}

std::unique_ptr<QuitGate::Pass> QuitGate::enter(std::function<void()> stop) {
    std::lock_guard lock(state_->mutex);
    if (state_->closed) return nullptr;
    const std::uint64_t id = state_->nextId++;
    state_->inside.emplace(id, Pass::State::Inside{std::move(stop), {}});
    return std::unique_ptr<Pass>(new Pass(state_, id));
}

void QuitGate::close(const std::shared_ptr<DispatchGroup>& finishing) {
    std::vector<std::function<void()>> stops;
    {
        std::lock_guard lock(state_->mutex);
        state_->closed = true;
        for (auto& [id, work] : state_->inside) {
            if (finishing) {
                finishing->enter();
                work.waiting.push_back(finishing);
            }
            stops.push_back(work.stop);
        }
    }
    // Outside the lock: a stop may end its work at once, which lets its pass go.
    for (const auto& stop : stops) {
        if (stop) stop();
    }
}

bool QuitGate::closed() const {
    std::lock_guard lock(state_->mutex);
    return state_->closed;
}

}  // namespace foundation
