#include "device/SocketReadStream.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>

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
        error_ = std::strerror(errno);
        return -1;
    }
}
