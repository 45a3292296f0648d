#pragma once

#include <functional>

namespace foundation {

// The main thread's queue, served by GLib's default main context. The main thread is
// the one that called bindToCurrentThread(): the process entry, or the test runner.
class MainQueue {
public:
    // Makes the calling thread the main thread (acquires the default main context).
    // Called once, before any other thread uses the main queue.
    static void bindToCurrentThread();
    static bool isMainThread();

    // Runs the job on the main thread, later; returns at once. Safe from any thread.
    static void async(std::function<void()> job);
    // Runs the job on the main thread and waits for it: inline when already there.
    // An exception thrown by the job reaches the caller.
    static void sync(std::function<void()> job);
};

}  // namespace foundation
