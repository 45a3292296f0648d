#include "foundation/SerialQueue.h"

#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <future>
#include <map>
#include <mutex>

#include <fmt/format.h>

#include "foundation/JobGuard.h"
#include "foundation/QueueLabel.h"

namespace foundation {

namespace {

// Linux keeps 15 bytes of a thread name; cut on a character boundary.
std::string threadNameFor(const std::string& label) {
    constexpr std::size_t kLimit = 15;
    if (label.size() <= kLimit) return label;
    std::size_t end = kLimit;
    while (end > 0 && (static_cast<unsigned char>(label[end]) & 0xC0) == 0x80) --end;
    return label.substr(0, end);
}

}  // namespace

// Shared by the queue object and its worker, so that the worker can finish on its own
// when the queue object goes away from inside one of its jobs.
struct SerialQueue::Core {
    explicit Core(std::string queueLabel)
        : label(std::move(queueLabel)), owner(fmt::format("serial queue \"{}\"", label)) {}

    const std::string label;
    const std::string owner;  // how failures name the queue
    std::atomic<SerialQueue*> queue{nullptr};

    std::mutex mutex;
    std::condition_variable wakeup;
    std::deque<std::function<void()>> jobs;
    std::map<TimerKey, std::function<void()>> timers;  // by deadline
    std::uint64_t nextTimerSequence = 0;
    bool stopping = false;
    // A job runs: on the worker, or on a thread that called sync() while the queue idled.
    bool busy = false;
    bool workerWaiting = false;
    // The worker waits for a sync() caller to let go of the queue (not merely for work).
    bool workerHeldOff = false;
};

// Marks the calling thread as serving `core` for as long as it lives, and restores what it
// served before: sync() runs jobs on the caller's thread with the queue's marks set.
class SerialQueue::Serving {
public:
    explicit Serving(Core* core) : previousCore_(served_), previousLabel_(QueueLabel::current()) {
        served_ = core;
        QueueLabel::setForCurrentThread(core->label);
    }
    ~Serving() {
        served_ = previousCore_;
        QueueLabel::setForCurrentThread(previousLabel_);
    }
    Serving(const Serving&) = delete;
    Serving& operator=(const Serving&) = delete;

private:
    Core* previousCore_;
    std::string_view previousLabel_;
};

thread_local SerialQueue::Core* SerialQueue::served_ = nullptr;

SerialQueue::SerialQueue(std::string label) : core_(std::make_shared<Core>(std::move(label))) {
    core_->queue = this;
    worker_ = std::thread(&SerialQueue::serve, core_);
}

SerialQueue::~SerialQueue() {
    {
        std::lock_guard lock(core_->mutex);
        core_->stopping = true;
        core_->queue = nullptr;
        core_->wakeup.notify_one();
    }
    // A thread cannot join itself, nor wait for a worker that waits for it: this happens
    // when a job, on the worker or run by sync() on its caller, held the last reference.
    if (served_ == core_.get()) {
        worker_.detach();
    } else {
        worker_.join();
    }
}

const std::string& SerialQueue::label() const {
    return core_->label;
}

void SerialQueue::async(std::function<void()> job) {
    // The wake-up happens under the lock: once it is released, the job may already have
    // run and dropped the last owner of this queue, and nothing here may be touched.
    std::lock_guard lock(core_->mutex);
    core_->jobs.push_back(std::move(job));
    if (core_->workerWaiting && !core_->busy) core_->wakeup.notify_one();
}

void SerialQueue::sync(std::function<void()> job) {
    if (isCurrent()) {
        job();
        return;
    }
    Core& core = *core_;
    bool idle;
    {
        std::lock_guard lock(core.mutex);
        idle = !core.busy && core.jobs.empty();
        if (idle) core.busy = true;
    }
    if (idle) {
        // The queue is ours until the job ends: no hop to the worker and back.
        struct Release {
            Core& core;
            ~Release() {
                std::lock_guard lock(core.mutex);
                core.busy = false;
                // An idle worker sleeps on: only jobs queued meanwhile need it.
                if (core.workerWaiting && (core.workerHeldOff || !core.jobs.empty())) {
                    core.wakeup.notify_one();
                }
            }
        } release{core};
        Serving serving(&core);
        job();
        return;
    }
    // Shared with the job, so that the worker never touches a promise that the waiting
    // caller has already destroyed.
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    async([&job, done] {
        try {
            job();
            done->set_value();
        } catch (...) {
            done->set_exception(std::current_exception());
        }
    });
    finished.get();
}

bool SerialQueue::hasQueuedJobs() const {
    std::lock_guard lock(core_->mutex);
    return !core_->jobs.empty();
}

bool SerialQueue::isCurrent() const {
    return served_ == core_.get();
}

SerialQueue* SerialQueue::current() {
    return served_ != nullptr ? served_->queue.load() : nullptr;
}

void SerialQueue::serve(std::shared_ptr<Core> core) {
    served_ = core.get();
    QueueLabel::setForCurrentThread(core->label);
    if (!core->label.empty()) {
        pthread_setname_np(pthread_self(), threadNameFor(core->label).c_str());
    }

    std::unique_lock lock(core->mutex);
    for (;;) {
        if (core->busy) {
            // A sync() caller holds the queue; it wakes the worker when it lets go.
            core->workerWaiting = true;
            core->workerHeldOff = true;
            core->wakeup.wait(lock);
            core->workerHeldOff = false;
            core->workerWaiting = false;
            continue;
        }
        if (!core->timers.empty()) {
            const auto now = Clock::now();
            while (!core->timers.empty() && core->timers.begin()->first.deadline <= now) {
                core->jobs.push_back(std::move(core->timers.begin()->second));
                core->timers.erase(core->timers.begin());
            }
        }
        if (!core->jobs.empty()) {
            {
                std::function<void()> job = std::move(core->jobs.front());
                core->jobs.pop_front();
                core->busy = true;
                lock.unlock();
                runGuarded(core->owner, job);
                // The job's captures go here, unlocked: they may hold the last reference
                // to the queue object itself.
            }
            lock.lock();
            core->busy = false;
            continue;
        }
        if (core->stopping) break;
        core->workerWaiting = true;
        if (core->timers.empty()) {
            core->wakeup.wait(lock);
        } else {
            // A copy: the timer may be cancelled, and its entry freed, during the wait.
            const Clock::time_point deadline = core->timers.begin()->first.deadline;
            core->wakeup.wait_until(lock, deadline);
        }
        core->workerWaiting = false;
    }
    // Timers not yet due are dropped with the core, off this lock.
    auto dropped = std::move(core->timers);
    lock.unlock();
}

SerialQueue::TimerKey SerialQueue::scheduleTimer(Core& core, Clock::time_point deadline,
                                                 std::function<void()> job) {
    std::lock_guard lock(core.mutex);
    const TimerKey key{deadline, core.nextTimerSequence++};
    core.timers.emplace(key, std::move(job));
    // The worker may be waiting for a later deadline.
    if (core.workerWaiting) core.wakeup.notify_one();
    return key;
}

void SerialQueue::unscheduleTimer(Core& core, const TimerKey& key) {
    std::function<void()> removed;
    std::lock_guard lock(core.mutex);
    auto found = core.timers.find(key);
    if (found == core.timers.end()) return;
    removed = std::move(found->second);
    core.timers.erase(found);
}

}  // namespace foundation
