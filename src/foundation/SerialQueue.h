#pragma once

#include <chrono>
#include <compare>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace foundation {

// A queue served by one worker thread of its own: jobs run one at a time, in the order
// they were queued. The worker's thread name is the label's first 15 bytes, and
// QueueLabel reports the label on it.
class SerialQueue {
public:
    // An empty label leaves the queue unlabelled.
    explicit SerialQueue(std::string label);
    // Runs every job already queued (and those they queue), drops timers not yet due,
    // then joins the worker. When the last owner lets go from inside one of the queue's
    // own jobs, the worker finishes the queued jobs on its own instead of being joined.
    ~SerialQueue();

    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    const std::string& label() const;

    // Queues the job and returns at once. An exception escaping the job is written to
    // stderr; the queue goes on with the next job.
    void async(std::function<void()> job);
    // Runs the job on the queue and waits for it; inline when already on the queue. From
    // another thread, when the queue is idle the job runs on the calling thread, holding
    // the queue meanwhile (isCurrent(), current() and the queue label say so there);
    // otherwise it waits its turn after the jobs queued before it. An exception escaping
    // the job reaches the caller.
    void sync(std::function<void()> job);

    // Whether jobs wait their turn (timers not yet due do not count): lets a job put off
    // work until the queue has caught up.
    bool hasQueuedJobs() const;

    // Whether the caller runs on this queue's worker.
    bool isCurrent() const;
    // The queue whose worker the calling thread is, or nullptr.
    static SerialQueue* current();

private:
    friend class OneShotTimer;

    using Clock = std::chrono::steady_clock;
    struct Core;
    class Serving;
    struct TimerKey {
        Clock::time_point deadline;
        std::uint64_t sequence = 0;
        auto operator<=>(const TimerKey&) const = default;
    };

    static void serve(std::shared_ptr<Core> core);
    // Timers live in the core so that a timer handle may outlive its queue.
    static TimerKey scheduleTimer(Core& core, Clock::time_point deadline,
                                  std::function<void()> job);
    static void unscheduleTimer(Core& core, const TimerKey& key);

    // The core of the queue the calling thread serves.
    static thread_local Core* served_;

    std::shared_ptr<Core> core_;
    std::thread worker_;
};

}  // namespace foundation
