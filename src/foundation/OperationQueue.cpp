#include "foundation/OperationQueue.h"

#include <cstdio>
#include <stdexcept>
#include <system_error>

#include <fmt/format.h>

#include "foundation/JobGuard.h"
#include "foundation/QueueLabel.h"

namespace foundation {

namespace {
// The pool whose worker the calling thread is.
thread_local const OperationQueue* servedPool = nullptr;
}  // namespace

OperationQueue::OperationQueue(std::string label, std::size_t maxThreads,
                               std::chrono::milliseconds idleTimeout)
    : label_(std::move(label)),
      owner_(fmt::format("operation queue \"{}\"", label_)),
      maxThreads_(maxThreads),
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
        workerEnded_.wait(lock, [this] { return workers_.empty(); });
        ended.swap(ended_);
    }
    for (auto& thread : ended) thread.join();
}

void OperationQueue::addOperation(std::function<void()> job) {
    Workers ended;
    bool wake = false;
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
        if (idle_ > wakeups_) {
            ++wakeups_;
            wake = true;
        } else if (workers_.size() < maxThreads_) {
            auto slot = workers_.emplace(workers_.end());
            try {
                *slot = std::thread(&OperationQueue::serve, this, slot);
            } catch (const std::system_error& e) {
                workers_.erase(slot);
                if (workers_.empty()) {
                    jobs_.pop_back();
                    throw;
                }
                // The busy workers take the job once they are free.
                fmt::print(stderr, "{}: cannot start a worker: {}\n", owner_, e.what());
            }
        }
        ended.swap(ended_);
    }
    // Woken off the lock, the worker does not block on it straight away.
    if (wake) workAvailable_.notify_one();
    for (auto& thread : ended) thread.join();
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
    for (;;) {
        if (!jobs_.empty()) {
            {
                std::function<void()> job = std::move(jobs_.front());
                jobs_.pop_front();
                ++running_;
                lock.unlock();
                runGuarded(owner_, job);
            }  // the job's captures go unlocked too
            lock.lock();
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
