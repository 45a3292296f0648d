#include "foundation/OperationQueue.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <system_error>

#include <fmt/format.h>

#include "foundation/ConsolePrint.h"
#include "foundation/JobGuard.h"
#include "foundation/QueueLabel.h"

namespace foundation {

namespace {

// The pool whose worker the calling thread is.
thread_local const OperationQueue* servedPool = nullptr;

std::size_t coreCount() {
    return std::max(1u, std::thread::hardware_concurrency());
}

}  // namespace

OperationQueue::OperationQueue(std::string label, std::size_t maxThreads,
                               std::chrono::milliseconds idleTimeout)
    : label_(std::move(label)),
      owner_(fmt::format("operation queue \"{}\"", label_)),
      maxThreads_(maxThreads),
      steadyThreads_(std::min(maxThreads, coreCount())),
      idleTimeout_(idleTimeout) {
    if (maxThreads_ == 0)
        throw std::invalid_argument("OperationQueue: maxThreads must be at least 1");
}

OperationQueue::~OperationQueue() {
    Workers ended;
    {
        std::unique_lock lock(mutex_);
        stopping_ = true;
        workAvailable_.notify_all();
        watcherWake_.notify_all();
        workerEnded_.wait(lock, [this] { return workers_.empty(); });
        ended.swap(ended_);
    }
    for (auto& thread : ended) thread.join();
    if (watcher_.joinable()) watcher_.join();
}

void OperationQueue::setCapReachedHandler(std::function<void(std::size_t cap)> handler) {
    std::lock_guard lock(mutex_);
    capReached_ = std::move(handler);
}

bool OperationQueue::startWorker() {
    auto slot = workers_.emplace(workers_.end());
    try {
        *slot = std::thread(&OperationQueue::serve, this, slot);
    } catch (const std::system_error& e) {
        workers_.erase(slot);
        foundation::printToConsole("{}: cannot start a worker: {}\n", owner_, e.what());
        return false;
    }
    ++starting_;
    return true;
}

std::size_t OperationQueue::unclaimedJobs() const {
    const std::size_t claimed = wakeups_ + starting_;
    return jobs_.size() > claimed ? jobs_.size() - claimed : 0;
}

void OperationQueue::addOperation(std::function<void()> job) {
    Workers ended;
    bool wake = false;
    bool wakeWatcher = false;
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
        if (idle_ > wakeups_) {
            // One worker on its way is enough: it wakes the next if more jobs wait.
            if (wakeups_ == 0) {
                ++wakeups_;
                wake = true;
            }
        } else if (workers_.size() < steadyThreads_ && unclaimedJobs() > 0) {
            if (!startWorker() && workers_.empty()) {
                jobs_.pop_back();
                throw std::system_error(
                    std::make_error_code(std::errc::resource_unavailable_try_again),
                    owner_ + ": cannot start a worker");
            }
        } else if (!watcher_.joinable()) {
            try {
                watcher_ = std::thread(&OperationQueue::watchForStarvation, this);
            } catch (const std::system_error& e) {
                // The busy workers still take the job once they are free.
                foundation::printToConsole("{}: cannot watch for starved jobs: {}\n", owner_, e.what());
            }
        } else if (watcherIdle_) {
            watcherIdle_ = false;
            wakeWatcher = true;
        }
        ended.swap(ended_);
    }
    // Woken off the lock, the thread does not block on it straight away.
    if (wake) workAvailable_.notify_one();
    if (wakeWatcher) watcherWake_.notify_one();
    for (auto& thread : ended) thread.join();
}

void OperationQueue::watchForStarvation() {
    std::unique_lock lock(mutex_);
    unsigned streak = 0;  // starved checks in a row: each adds twice as many threads
    while (!stopping_) {
        if (unclaimedJobs() == 0) {
            streak = 0;
            watcherIdle_ = true;
            watcherWake_.wait(lock, [this] { return !watcherIdle_ || stopping_; });
            watcherIdle_ = false;
            continue;
        }
        const std::uint64_t finishedBefore = finished_;
        watcherWake_.wait_for(lock, kStarvationInterval, [this] { return stopping_; });
        if (stopping_) break;
        if (finished_ != finishedBefore || unclaimedJobs() == 0) {
            streak = 0;
            continue;
        }
        std::size_t wanted =
            std::min<std::size_t>(unclaimedJobs(), std::size_t{1} << std::min(streak, 16u));
        ++streak;
        while (wanted > 0 && workers_.size() < maxThreads_ && startWorker()) --wanted;
        if (wanted > 0 && workers_.size() >= maxThreads_ && !capReported_) {
            capReported_ = true;
            auto report = capReached_;
            lock.unlock();
            if (report) {
                report(maxThreads_);
            } else {
                foundation::printToConsole("{}: all {} threads are busy; jobs wait for one to finish\n",
                           owner_, maxThreads_);
            }
            lock.lock();
        }
    }
}

std::size_t OperationQueue::operationCount() const {
    std::lock_guard lock(mutex_);
    return jobs_.size() + running_;
}

std::size_t OperationQueue::queuedCount() const {
    std::lock_guard lock(mutex_);
    return jobs_.size();
}

std::size_t OperationQueue::threadCount() const {
    std::lock_guard lock(mutex_);
    return workers_.size();
}

void OperationQueue::waitUntilAllOperationsAreFinished() {
    if (servedPool == this) {
        throw std::logic_error(
            fmt::format("{}: waiting for all operations from one of them", owner_));
    }
    std::unique_lock lock(mutex_);
    allFinished_.wait(lock, [this] { return jobs_.empty() && running_ == 0; });
}

void OperationQueue::serve(Workers::iterator self) {
    servedPool = this;
    QueueLabel::setForCurrentThread(label_);

    std::unique_lock lock(mutex_);
    --starting_;
    for (;;) {
        if (!jobs_.empty()) {
            {
                std::function<void()> job = std::move(jobs_.front());
                jobs_.pop_front();
                ++running_;
                // Passes the wake-up on while jobs remain, one worker at a time.
                const bool wakeNext = !jobs_.empty() && idle_ > wakeups_ && wakeups_ == 0;
                if (wakeNext) ++wakeups_;
                lock.unlock();
                if (wakeNext) workAvailable_.notify_one();
                runGuarded(owner_, job);
            }  // the job's captures go unlocked too
            lock.lock();
            ++finished_;
            if (--running_ == 0 && jobs_.empty()) allFinished_.notify_all();
            continue;
        }
        if (stopping_) break;

        ++idle_;
        const bool woken = workAvailable_.wait_for(lock, idleTimeout_,
                                                   [this] { return wakeups_ > 0 || stopping_; });
        --idle_;
        if (wakeups_ > 0) {
            --wakeups_;
            continue;
        }
        if (!woken && jobs_.empty()) break;  // idle for the whole timeout
    }
    servedPool = nullptr;
    ended_.splice(ended_.end(), workers_, self);
    workerEnded_.notify_all();
}

}  // namespace foundation
