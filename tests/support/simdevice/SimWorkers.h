#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace simdevice {

// The threads that serve a simulator's connections, one each; those that have ended are
// joined as new ones start, the rest by joinAll().
class SimWorkers {
public:
    ~SimWorkers() { joinAll(); }

    // Runs `work` on a thread of its own, with SIGPIPE blocked there: a peer gone mid-write
    // gives EPIPE, also inside TLS, instead of ending the process.
    void start(std::function<void()> work);
    // Waits for every thread; the caller has made their connections end.
    void joinAll();

private:
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::mutex mutex_;
    std::vector<Worker> workers_;
};

}  // namespace simdevice
