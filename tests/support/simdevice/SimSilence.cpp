#include "simdevice/SimSilence.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>

#include "simdevice/SimWire.h"

namespace simdevice {

void SimSilence::fallSilentAfter(const std::string& service, std::uint64_t bytes) {
    {
        std::lock_guard lock(mutex_);
        budgets_[service] = bytes;
    }
    wakeAll();
}

void SimSilence::hangUp(const std::string& service) {
    {
        std::lock_guard lock(mutex_);
        hungUp_.insert(service);
    }
    wakeAll();
}

void SimSilence::answerAgain(const std::string& service) {
    {
        std::lock_guard lock(mutex_);
        budgets_.erase(service);
        hungUp_.erase(service);
    }
    wakeAll();
}

std::size_t SimSilence::take(const std::string& service, std::size_t wanted) {
    std::lock_guard lock(mutex_);
    const auto found = budgets_.find(service);
    if (found == budgets_.end()) return wanted;
    const auto allowed = static_cast<std::size_t>(std::min<std::uint64_t>(wanted, found->second));
    found->second -= allowed;
    return allowed;
}

bool SimSilence::hungUp(const std::string& service) const {
    std::lock_guard lock(mutex_);
    return hungUp_.count(service) > 0;
}

bool SimSilence::isSilent(const std::string& service) const {
    std::lock_guard lock(mutex_);
    const auto found = budgets_.find(service);
    return found != budgets_.end() && found->second == 0;
}

void SimSilence::wakeAll() {
    std::lock_guard lock(mutex_);
    const std::uint64_t one = 1;
    for (int waker : wakers_) [[maybe_unused]] auto written = ::write(waker, &one, sizeof one);
}

void SimSilence::serve(const std::string& service, int fd, const std::function<void(int)>& serve) {
    int inner[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, inner) != 0) return;
    const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) {
        ::close(inner[0]);
        ::close(inner[1]);
        return;
    }
    {
        std::lock_guard lock(mutex_);
        wakers_.insert(wake);
    }
    std::thread served([&] {
        serve(inner[0]);
        ::shutdown(inner[0], SHUT_RDWR);
    });
    std::string held;  // answer bytes the budget holds back, in order
    char buffer[65536];
    while (!hungUp(service)) {
        if (!held.empty()) {
            const std::size_t allowed = take(service, held.size());
            if (allowed > 0 && !writeAll(fd, held.data(), allowed)) break;
            held.erase(0, allowed);
        }
        // Silent, the device reads nothing either: only the host's leaving is heard.
        const bool silent = !held.empty() || isSilent(service);
        pollfd entries[3] = {{wake, POLLIN, 0},
                             {fd, static_cast<short>(silent ? POLLRDHUP : POLLIN), 0},
                             {silent ? -1 : inner[1], POLLIN, 0}};
        if (::poll(entries, 3, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (entries[0].revents) {
            std::uint64_t count = 0;
            [[maybe_unused]] auto read = ::read(wake, &count, sizeof count);
        }
        if (silent) {
            if (entries[1].revents) break;
            continue;
        }
        if (entries[1].revents) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0 || !writeAll(inner[1], buffer, static_cast<std::size_t>(n))) break;
        }
        if (entries[2].revents) {
            const ssize_t n = ::recv(inner[1], buffer, sizeof buffer, 0);
            if (n <= 0) break;
            held.assign(buffer, static_cast<std::size_t>(n));
        }
    }
    ::shutdown(inner[1], SHUT_RDWR);
    served.join();
    {
        std::lock_guard lock(mutex_);
        wakers_.erase(wake);
    }
    ::close(wake);
    ::close(inner[0]);
    ::close(inner[1]);
}

}  // namespace simdevice
