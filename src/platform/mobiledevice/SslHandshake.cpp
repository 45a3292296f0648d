#include "platform/mobiledevice/SslHandshake.h"

#include <fcntl.h>
#include <sys/socket.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace mobiledevice {

namespace {

// Shuts the socket down once the limit has passed, unless the handshake ended before: the
// library's handshake reads without a time limit of its own.
class HandshakeDeadline {
public:
    HandshakeDeadline(int fd, std::chrono::milliseconds limit)
        : watcher_([this, fd, limit] {
              std::unique_lock lock(mutex_);
              if (!ended_.wait_for(lock, limit, [this] { return done_; })) {
                  ::shutdown(fd, SHUT_RDWR);
              }
          }) {}
    ~HandshakeDeadline() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        ended_.notify_one();
        watcher_.join();
    }
    HandshakeDeadline(const HandshakeDeadline&) = delete;
    HandshakeDeadline& operator=(const HandshakeDeadline&) = delete;

private:
    std::mutex mutex_;
    std::condition_variable ended_;
    bool done_ = false;
    std::thread watcher_;  // last: started once the rest is made
};

}  // namespace

idevice_error_t enableSsl(idevice_connection_t connection, std::chrono::milliseconds limit) {
    int fd = -1;
    if (idevice_connection_get_fd(connection, &fd) != IDEVICE_E_SUCCESS || fd < 0) {
        return idevice_connection_enable_ssl(connection);
    }
    const int flags = ::fcntl(fd, F_GETFL);
    const bool nonBlocking = flags >= 0 && (flags & O_NONBLOCK) != 0;
    if (nonBlocking) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    idevice_error_t error;
    {
        HandshakeDeadline deadline(fd, limit);
        error = idevice_connection_enable_ssl(connection);
    }
    if (nonBlocking) ::fcntl(fd, F_SETFL, flags);
    return error;
}

}  // namespace mobiledevice
