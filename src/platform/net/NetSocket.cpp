#include "platform/net/NetSocket.h"

#include <sys/socket.h>

#include <cerrno>
#include <memory>
#include <utility>

#include <boost/asio/detail/reactor_op.hpp>
#include <boost/asio/error.hpp>

namespace net {

namespace asio = boost::asio;

namespace {

using asio::detail::reactor_op;

// One read on the reactor's queue of the socket. The reactor runs it when the socket
// reports readiness; it also runs it once as the read starts, which this read declines.
class ReadinessRead : public reactor_op {
public:
    ReadinessRead(int fd, std::uint8_t* buffer, std::size_t size, NetSocket::IoHandler done)
        : reactor_op(boost::system::error_code(), &ReadinessRead::perform,
                     &ReadinessRead::complete),
          fd_(fd),
          buffer_(buffer),
          size_(size),
          done_(std::move(done)) {}

    // The read the reactor is being handed on this thread, which is not yet to be tried.
    static thread_local const ReadinessRead* starting;

private:
    static status perform(reactor_op* base) {
        auto* self = static_cast<ReadinessRead*>(base);
        if (self == starting) return not_done;
        ssize_t n;
        do {
            n = ::recv(self->fd_, self->buffer_, self->size_, MSG_DONTWAIT);
        } while (n < 0 && errno == EINTR);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return not_done;
        if (n < 0) {
            self->ec_ = boost::system::error_code(errno, asio::error::get_system_category());
        } else if (n == 0) {
            self->ec_ = asio::error::eof;
        } else {
            self->bytes_transferred_ = static_cast<std::size_t>(n);
        }
        return done;
    }

    // Runs the handler, or only frees the read when the context is shutting down (no owner).
    static void complete(void* owner, asio::detail::operation* base,
                         const boost::system::error_code&, std::size_t) {
        std::unique_ptr<ReadinessRead> self(static_cast<ReadinessRead*>(base));
        if (owner == nullptr) return;
        auto done = std::move(self->done_);
        auto ec = self->ec_;
        auto n = self->bytes_transferred_;
        self.reset();
        done(ec, n);
    }

    int fd_;
    std::uint8_t* buffer_;
    std::size_t size_;
    NetSocket::IoHandler done_;
};

thread_local const ReadinessRead* ReadinessRead::starting = nullptr;

}  // namespace

NetSocket::NetSocket(asio::io_context& context)
    : asio::ip::tcp::socket(context),
      reactor_(asio::use_service<asio::detail::reactor>(
          static_cast<asio::execution_context&>(context))) {}

void NetSocket::readOnNextReadiness(std::uint8_t* buffer, std::size_t size, IoHandler done) {
    auto* read = new ReadinessRead(native_handle(), buffer, size, std::move(done));
    ReadinessRead::starting = read;
    // A read queued behind nothing else, which needs no change of what the kernel reports:
    // the socket is watched for input from the moment it is opened.
    reactor_.start_op(asio::detail::reactor::read_op, native_handle(),
                      impl_.get_implementation().reactor_data_, read, false, true);
    ReadinessRead::starting = nullptr;
}

}  // namespace net
