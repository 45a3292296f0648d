#pragma once

#include <functional>
#include <memory>

namespace foundation {

class SerialQueue;

// Counts work under way so that someone can wait until all of it is done.
class DispatchGroup {
public:
    DispatchGroup();

    void enter();
    // Throws std::logic_error when there is no matching enter().
    void leave();
    // Blocks until every enter() has had its leave().
    void wait();
    // Whether every enter() has had its leave(), now: for a caller that must not block.
    bool finished() const;

    // enter(), then the job on the queue, then leave() once it has run (also when it
    // threw). The job's bookkeeping outlives the group object if need be.
    void async(SerialQueue& queue, std::function<void()> job);

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace foundation
