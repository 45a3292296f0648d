#include "foundation/MainQueue.h"

#include <glib.h>

#include <condition_variable>
#include <exception>
#include <iostream>
#include <mutex>

#include "foundation/QueueLabel.h"

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
// The hand-off goes through GLib, whose own locking the thread sanitizer does not see.
#define HANDED_OVER(job) __tsan_release(job)
#define TAKEN_OVER(job) __tsan_acquire(job)
#else
#define HANDED_OVER(job) ((void)(job))
#define TAKEN_OVER(job) ((void)(job))
#endif

namespace foundation {

namespace {

gboolean runJob(gpointer data) {
    auto* job = static_cast<std::function<void()>*>(data);
    TAKEN_OVER(job);
    try {
        (*job)();
    } catch (const std::exception& e) {
        std::cerr << "main queue: job ended with an exception: " << e.what() << '\n';
    } catch (...) {
        std::cerr << "main queue: job ended with an unknown exception\n";
    }
    return G_SOURCE_REMOVE;
}

void deleteJob(gpointer data) {
    delete static_cast<std::function<void()>*>(data);
}

}  // namespace

void MainQueue::bindToCurrentThread() {
    // Owning the default context is what marks this thread as the main one; GLib lets
    // the owner run (and re-enter) the loop, and nobody else.
    g_main_context_acquire(g_main_context_default());
    QueueLabel::setForCurrentThread(QueueLabel::kMainThread);
}

bool MainQueue::isMainThread() {
    return g_main_context_is_owner(g_main_context_default());
}

void MainQueue::async(std::function<void()> job) {
    auto* boxed = new std::function<void()>(std::move(job));
    HANDED_OVER(boxed);
    GSource* source = g_idle_source_new();
    g_source_set_priority(source, G_PRIORITY_DEFAULT);
    g_source_set_callback(source, runJob, boxed, deleteJob);
    g_source_attach(source, g_main_context_default());
    g_source_unref(source);
}

void MainQueue::sync(std::function<void()> job) {
    if (isMainThread()) {
        job();
        return;
    }
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    std::exception_ptr failure;
    async([&] {
        try {
            job();
        } catch (...) {
            failure = std::current_exception();
        }
        std::lock_guard lock(mutex);
        finished = true;
        done.notify_one();
    });
    std::unique_lock lock(mutex);
    done.wait(lock, [&] { return finished; });
    if (failure) std::rethrow_exception(failure);
}

}  // namespace foundation
