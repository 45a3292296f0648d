#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <thread>

namespace foundation {

// A pool of worker threads that grows on demand: jobs block on devices, HTTP and the main
// thread, so a job added while no worker is idle gets a new thread (up to maxThreads).
// Workers idle for idleTimeout end; the pool may shrink to no thread at all.
class OperationQueue {
public:
    // "No limit set", which shows as the largest unsigned 64-bit number.
    static constexpr std::int64_t kDefaultMaxConcurrentOperationCount = -1;
    static constexpr std::chrono::milliseconds kDefaultIdleTimeout = std::chrono::seconds(15);

    // Throws std::invalid_argument when maxThreads is 0.
    explicit OperationQueue(std::string label, std::size_t maxThreads = 512,
                            std::chrono::milliseconds idleTimeout = kDefaultIdleTimeout);
    // Runs every queued job (and those they add), then joins every worker. Must not be
    // called from one of this queue's jobs.
    ~OperationQueue();

    OperationQueue(const OperationQueue&) = delete;
    OperationQueue& operator=(const OperationQueue&) = delete;

    // Returns at once; safe from any thread, including this queue's jobs. An exception
    // escaping the job is written to stderr and the job is lost. Throws std::system_error
    // only when the pool has no thread and cannot start one.
    void addOperation(std::function<void()> job);

    std::int64_t maxConcurrentOperationCount() const { return kDefaultMaxConcurrentOperationCount; }
    // Queued and running jobs.
    std::size_t operationCount() const;
    // Jobs waiting, not yet started.
    std::size_t queuedCount() const;
    // Live worker threads.
    std::size_t threadCount() const;

    // Blocks until no job is queued or running. Throws std::logic_error when called from
    // one of this queue's jobs, which would wait for itself.
    void waitUntilAllOperationsAreFinished();

private:
    using Workers = std::list<std::thread>;

    void serve(Workers::iterator self);

    const std::string label_;
    const std::string owner_;  // how failures name the queue
    const std::size_t maxThreads_;
    const std::chrono::milliseconds idleTimeout_;

    mutable std::mutex mutex_;
    std::condition_variable workAvailable_;
    std::condition_variable workerEnded_;
    std::condition_variable allFinished_;
    std::deque<std::function<void()>> jobs_;
    std::size_t running_ = 0;
    std::size_t idle_ = 0;     // workers waiting for work
    std::size_t wakeups_ = 0;  // of those, how many a new job has already claimed
    bool stopping_ = false;
    Workers workers_;  // live
    Workers ended_;    // returned from serve(), to be joined by the next caller passing by
};

}  // namespace foundation
