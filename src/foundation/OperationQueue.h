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

// A pool of worker threads sized to the machine: it keeps about one thread per core while
// jobs run, and since jobs block on devices, HTTP and the main thread, it adds threads
// (up to maxThreads) only when starved, that is when jobs wait and no worker has finished
// one for kStarvationInterval. Workers idle for idleTimeout end; the pool may shrink to no
// thread at all.
class OperationQueue {
public:
    // Kept for callers that name it; the queue reports its real cap instead.
    static constexpr std::int64_t kDefaultMaxConcurrentOperationCount = -1;
    static constexpr std::chrono::milliseconds kDefaultIdleTimeout = std::chrono::seconds(15);
    static constexpr std::chrono::milliseconds kStarvationInterval{5};

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

    // The most threads the pool will run at once.
    std::int64_t maxConcurrentOperationCount() const {
        return static_cast<std::int64_t>(maxThreads_);
    }
    // How many threads the pool keeps while jobs run and none is starved (the cores).
    std::size_t steadyThreadCount() const { return steadyThreads_; }
    // Called once, off the pool's lock, the first time starved jobs find the pool at its
    // cap; without a handler that is written to stderr. Set it before adding jobs.
    void setCapReachedHandler(std::function<void(std::size_t cap)> handler);

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
    // Watches for starved jobs while any wait; started with the first job that waits.
    void watchForStarvation();
    // Under the lock. False when the thread could not be started.
    bool startWorker();
    // Under the lock: jobs that no running, woken or starting worker will take.
    std::size_t unclaimedJobs() const;

    const std::string label_;
    const std::string owner_;  // how failures name the queue
    const std::size_t maxThreads_;
    const std::size_t steadyThreads_;
    const std::chrono::milliseconds idleTimeout_;

    mutable std::mutex mutex_;
    std::condition_variable workAvailable_;
    std::condition_variable workerEnded_;
    std::condition_variable allFinished_;
    std::condition_variable watcherWake_;
    std::deque<std::function<void()>> jobs_;
    std::size_t running_ = 0;
    std::size_t idle_ = 0;      // workers waiting for work
    std::size_t wakeups_ = 0;   // of those, how many a new job has already claimed
    std::size_t starting_ = 0;  // workers started that have not yet looked for work
    std::uint64_t finished_ = 0;
    bool stopping_ = false;
    bool watcherIdle_ = false;  // waiting with no deadline, to be woken by a waiting job
    bool capReported_ = false;
    std::function<void(std::size_t)> capReached_;
    Workers workers_;  // live
    Workers ended_;    // returned from serve(), to be joined by the next caller passing by
    std::thread watcher_;
};

}  // namespace foundation
