#include "device/SocketReadStream.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "device/SocketCheck.h"
#include "logging/LogCall.h"

bool SocketReadStream::open() {
    if (socket_ < 0) {
        error_ = std::strerror(EBADF);
        return false;
    }
    open_ = true;
    return true;
}

long SocketReadStream::read(void* bytes, std::size_t maxLength) {
    if (!open_) {
        error_ = "stream is not open";
        return -1;
    }
    for (;;) {
        // Nothing is read before the socket has something (or its end) to give.
        const int ready = socket_check_fd(socket_, FDM_READ, timeoutMs_);
        if (ready == kSocketTimedOut) {
            LogInfo("socket time out");
            error_ = std::strerror(ETIMEDOUT);
            return -1;
        }
        if (ready < 0) {
            error_ = std::strerror(EBADF);
            return -1;
        }
        const ssize_t count = ::recv(socket_, bytes, maxLength, MSG_DONTWAIT);
        if (count >= 0) return static_cast<long>(count);
        if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
        error_ = std::strerror(errno);
        return -1;
    }
}
