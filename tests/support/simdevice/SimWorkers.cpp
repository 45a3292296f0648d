#include "simdevice/SimWorkers.h"

#include <pthread.h>
#include <signal.h>

namespace simdevice {

void SimWorkers::start(std::function<void()> work) {
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::lock_guard lock(mutex_);
    for (auto it = workers_.begin(); it != workers_.end();) {
        if (*it->done) {
            it->thread.join();
            it = workers_.erase(it);
        } else {
            ++it;
        }
    }
    workers_.push_back({std::thread([work = std::move(work), done] {
                            sigset_t pipe;
                            sigemptyset(&pipe);
                            sigaddset(&pipe, SIGPIPE);
                            pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
                            work();
                            *done = true;
                        }),
                        done});
}

void SimWorkers::joinAll() {
    std::vector<Worker> workers;
    {
        std::lock_guard lock(mutex_);
        workers.swap(workers_);
    }
    for (auto& worker : workers) worker.thread.join();
}

}  // namespace simdevice
