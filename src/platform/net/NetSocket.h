#pragma once

// The connection's TCP socket, with one read that Asio's own sockets do not offer. Internal
// to the stream layer: it includes Asio.

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <cstddef>
#include <cstdint>
#include <functional>

namespace net {

class NetSocket : public boost::asio::ip::tcp::socket {
public:
    using IoHandler = std::function<void(const boost::system::error_code&, std::size_t)>;

    explicit NetSocket(boost::asio::io_context& context);

    // Reads once the socket next becomes readable, for a caller that has just seen it hold
    // nothing and has not let the loop wait on the kernel since: a peer's bytes that came
    // after that look are then still to be announced. Unlike async_read_some it tries no
    // read before waiting, and unlike async_wait it does not register the socket with the
    // kernel again: each of those is a system call that finds nothing.
    void readOnNextReadiness(std::uint8_t* buffer, std::size_t size, IoHandler done);

private:
    boost::asio::detail::reactor& reactor_;
};

}  // namespace net
