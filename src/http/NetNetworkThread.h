#pragma once

#include <functional>
#include <mutex>
#include <thread>

namespace net {
class NetRunLoop;
}

// The one thread that runs asynchronous requests: it runs its run loop in the default mode
// for as long as the process lives.
class NetNetworkThread {
public:
    // The network thread, made and started on first use.
    static NetNetworkThread& threadForRequest();

    // Runs `job` on the network thread in the default mode.
    void perform(std::function<void()> job);
    std::thread::id id() const { return id_; }

private:
    NetNetworkThread();
    void runRequests();

    std::mutex startLock_;
    net::NetRunLoop* loop_ = nullptr;
    std::thread::id id_;
};
