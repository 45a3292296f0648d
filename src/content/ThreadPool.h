#pragma once

#include <functional>

namespace foundation {
class OperationQueue;
}

// Where the system hands work to the background: scheme responders, event handlers,
// file-system plugins and media loading all add their jobs here. Jobs run concurrently
// with each other and with the main thread; a job that must touch the interface hops
// to the main thread itself.
class ThreadPool {
public:
    ThreadPool() = delete;

    // The shared background queue, made on first use and never released.
    static foundation::OperationQueue& async();

    // Adds the job to the background queue and returns at once. An exception escaping the
    // job is logged as an error; the job is lost and the pool goes on.
    static void addAsyncJobWithBlock(std::function<void()> job);
    static void addMainJobWithBlock(std::function<void()> job);
};
