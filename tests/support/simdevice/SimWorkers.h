#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace simdevice {

// The threads that serve a simulator's connections, one each, and the connections: a
// connection is closed once its thread is done with it. Threads that have ended are joined
// as new ones start, the rest by endAll().
class SimWorkers {
public:
    ~SimWorkers() { endAll(); }

    // Serves the connection with `work` on a thread of its own, with SIGPIPE blocked there:
    // a peer gone mid-write gives EPIPE, also inside TLS, instead of ending the process.
    void start(int fd, std::function<void()> work);
    // Ends every connection still served and waits for the threads.
    void endAll();

private:
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::mutex mutex_;
    std::vector<Worker> workers_;
    std::set<int> connections_;
};

}  // namespace simdevice
