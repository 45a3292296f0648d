#include "logging/LgFileWatcher.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "foundation/SerialQueue.h"

namespace {

constexpr std::uint32_t kWatchedEvents = IN_MOVE_SELF | IN_DELETE_SELF | IN_UNMOUNT | IN_ATTRIB;

// Reads what waits, without blocking. A watch removed by its owner reports that too
// (IN_ATTRIB and the rest were not asked for then): that is left out, since waking the owner's
// queue for it would cost a hand-off in the middle of its writing at every new file.
void readEvents(int fd, std::vector<LgFileWatcher::Event>& into) {
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t length = ::read(fd, buffer, sizeof buffer);
        if (length <= 0) break;
        for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if (event->mask != IN_IGNORED) into.push_back({event->wd, event->mask});
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
}

}  // namespace

// Outlives the watcher while a queued `onEvents` may still read the descriptor.
struct LgFileWatcher::Shared {
    int inotifyFd = -1;
    int stopFd = -1;
    std::mutex mutex;
    std::condition_variable taken;
    std::vector<Event> events;  // read here and not yet taken
    bool handedOver = false;    // an `onEvents` is queued and has not taken the events yet
    bool stopping = false;

    ~Shared() {
        if (inotifyFd >= 0) ::close(inotifyFd);
        if (stopFd >= 0) ::close(stopFd);
    }
};

LgFileWatcher::LgFileWatcher(std::shared_ptr<foundation::SerialQueue> queue,
                             std::function<void()> onEvents)
    : shared_(std::make_shared<Shared>()),
      queue_(std::move(queue)),
      onEvents_(std::move(onEvents)) {
    shared_->inotifyFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    shared_->stopFd = ::eventfd(0, EFD_CLOEXEC);
    if (valid()) thread_ = std::thread([this] { serve(); });
}

LgFileWatcher::~LgFileWatcher() {
    {
        std::lock_guard lock(shared_->mutex);
        shared_->stopping = true;
    }
    shared_->taken.notify_all();
    if (shared_->stopFd >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] auto written = ::write(shared_->stopFd, &one, sizeof one);
    }
    if (thread_.joinable()) thread_.join();
}

bool LgFileWatcher::valid() const {
    return shared_->inotifyFd >= 0 && shared_->stopFd >= 0;
}

int LgFileWatcher::watch(const std::string& path) {
    if (!valid()) {
        errno = EBADF;
        return -1;
    }
    return ::inotify_add_watch(shared_->inotifyFd, path.c_str(), kWatchedEvents);
}

void LgFileWatcher::unwatch(int watch) {
    if (valid() && watch >= 0) ::inotify_rm_watch(shared_->inotifyFd, watch);
}

std::vector<LgFileWatcher::Event> LgFileWatcher::takeEvents() {
    std::vector<Event> events;
    if (!valid()) return events;
    {
        std::lock_guard lock(shared_->mutex);
        events.swap(shared_->events);
        readEvents(shared_->inotifyFd, events);
        shared_->handedOver = false;
    }
    shared_->taken.notify_all();
    return events;
}

void LgFileWatcher::serve() {
    for (;;) {
        pollfd fds[2] = {{shared_->inotifyFd, POLLIN, 0}, {shared_->stopFd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents != 0) return;
        if ((fds[0].revents & POLLIN) == 0) continue;
        std::unique_lock lock(shared_->mutex);
        if (shared_->stopping) return;
        readEvents(shared_->inotifyFd, shared_->events);
        if (shared_->events.empty()) continue;
        // Hand the events over and wait until they are taken.
        shared_->handedOver = true;
        queue_->async(onEvents_);
        shared_->taken.wait(lock, [&] { return !shared_->handedOver || shared_->stopping; });
        if (shared_->stopping) return;
    }
}
