#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace foundation {
class SerialQueue;
}

// Watches files for being deleted, renamed or revoked from outside (inotify). A thread of
// its own waits for events and then runs `onEvents` on the owner's queue, where the owner
// takes them with takeEvents(). The owner may also take them at any time, for instance
// right before it writes, so that a removal made just before is never missed.
class LgFileWatcher {
public:
    struct Event {
        int watch;
        std::uint32_t mask;
    };

    // Events reported: moved, deleted (the last link gone), unmounted, attributes changed.
    LgFileWatcher(std::shared_ptr<foundation::SerialQueue> queue, std::function<void()> onEvents);
    // Stops the thread; the queue may still run one `onEvents` queued before.
    ~LgFileWatcher();

    LgFileWatcher(const LgFileWatcher&) = delete;
    LgFileWatcher& operator=(const LgFileWatcher&) = delete;

    bool valid() const;
    // A watch id, or -1 with errno set.
    int watch(const std::string& path);
    void unwatch(int watch);
    // Events waiting now, without blocking.
    std::vector<Event> takeEvents();

private:
    struct Shared;
    void serve();

    std::shared_ptr<Shared> shared_;
    std::shared_ptr<foundation::SerialQueue> queue_;
    std::function<void()> onEvents_;
    std::thread thread_;
};
