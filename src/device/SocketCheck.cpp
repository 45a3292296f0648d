#include "device/SocketCheck.h"

#include <poll.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "logging/LogCall.h"

int socket_check_fd(int fd, fd_mode mode, unsigned int timeoutMs) {
    if (fd < 0) {
        LogError("ERROR: invalid fd in check_fd {}", fd);
        return -1;
    }
    short events = 0;
    switch (mode) {
        case FDM_READ:
            events = POLLIN;
            break;
        case FDM_WRITE:
            events = POLLOUT;
            break;
        case FDM_EXCEPT:
            events = POLLPRI;
            break;
        default:
            return -1;
    }
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int waitMs = -1;
        if (timeoutMs != 0) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            waitMs = left.count() > 0 ? static_cast<int>(left.count()) : 0;
        }
        pollfd entry{fd, events, 0};
        int result = ::poll(&entry, 1, waitMs);
        if (result > 0) return (entry.revents & POLLNVAL) ? -1 : result;
        if (result == 0) {
            LogInfo("Error> {}: timeout", "socket_check_fd");
            return kSocketTimedOut;
        }
        if (errno == EINTR) {
            LogInfo("Error> {}: EINTR", "socket_check_fd");
            continue;
        }
        if (errno == EAGAIN) {
            LogInfo("Error> {}: EAGAIN", "socket_check_fd");
            return -1;
        }
        LogInfo("Error> {}: select failed: {}", "socket_check_fd", std::strerror(errno));
        return -1;
    }
}
