#include "device/SocketReadStream.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "device/SocketCheck.h"

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
        const ssize_t count = ::recv(socket_, bytes, maxLength, 0);
        if (count >= 0) return static_cast<long>(count);
        if (errno == EINTR) continue;
        // A socket that does not block has nothing yet: wait until it has.
        if ((errno == EAGAIN || errno == EWOULDBLOCK) && socket_check_fd(socket_, FDM_READ, 0) > 0)
            continue;
        error_ = std::strerror(errno);
        return -1;
    }
}
