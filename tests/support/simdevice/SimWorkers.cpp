#include "simdevice/SimWorkers.h"

#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

namespace simdevice {

void SimWorkers::start(int fd, std::function<void()> work) {
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::lock_guard lock(mutex_);
    connections_.insert(fd);
    for (auto it = workers_.begin(); it != workers_.end();) {
        if (*it->done) {
            it->thread.join();
            it = workers_.erase(it);
        } else {
            ++it;
        }
    }
    workers_.push_back({std::thread([this, fd, work = std::move(work), done] {
                            sigset_t pipe;
                            sigemptyset(&pipe);
                            sigaddset(&pipe, SIGPIPE);
                            pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
                            work();
                            {
                                std::lock_guard lock(mutex_);
                                connections_.erase(fd);
                            }
                            ::close(fd);
                            *done = true;
                        }),
                        done});
}

void SimWorkers::endAll() {
    std::vector<Worker> workers;
    {
        std::lock_guard lock(mutex_);
        for (int fd : connections_) ::shutdown(fd, SHUT_RDWR);
        workers.swap(workers_);
    }
    for (auto& worker : workers) worker.thread.join();
}

}  // namespace simdevice
