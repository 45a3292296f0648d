#include "http/NetNetworkThread.h"

#include <condition_variable>

#include "platform/net/NetRunLoop.h"

NetNetworkThread& NetNetworkThread::threadForRequest() {
    // Made once and never destroyed: the thread runs until the process ends.
    static NetNetworkThread* instance = new NetNetworkThread();
    return *instance;
}

NetNetworkThread::NetNetworkThread() {
    std::condition_variable started;
    std::unique_lock lock(startLock_);
    std::thread([this, &started] {
        {
            // Notified under the lock: the constructor, and its condition variable, cannot
            // be gone before the notice is given.
            std::lock_guard guard(startLock_);
            loop_ = &net::NetRunLoop::current();
            id_ = std::this_thread::get_id();
            started.notify_one();
        }
        runRequests();
    }).detach();
    started.wait(lock, [this] { return loop_ != nullptr; });
}

void NetNetworkThread::runRequests() {
    for (;;) loop_->runOnce(net::NetDefaultRunLoopMode, std::chrono::duration<double>(1e10));
}

void NetNetworkThread::perform(std::function<void()> job) {
    loop_->perform(net::NetDefaultRunLoopMode, std::move(job));
}
