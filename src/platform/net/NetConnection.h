#pragma once

// A TCP connection, optionally through an HTTP proxy tunnel or a SOCKS proxy, and under TLS. Internal to the
// stream layer: it includes Asio.

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/ssl/stream.hpp>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "foundation/Error.h"
#include "platform/net/NetResponseParser.h"
#include "platform/net/NetSocket.h"
#include "platform/net/NetStreamTypes.h"

namespace net {

struct NetConnectTarget {
    std::string host;  // as in the URL; IPv6 literals keep their brackets
    std::uint16_t port = 80;
    bool tls = false;
    NetTLSSettings tlsSettings;
    std::optional<NetProxySettings> proxy;
};

class NetConnection : public std::enable_shared_from_this<NetConnection> {
public:
    using IoHandler = std::function<void(const boost::system::error_code&, std::size_t)>;
    using DoneHandler = std::function<void(std::optional<foundation::Error>)>;

    explicit NetConnection(boost::asio::io_context& context);
    ~NetConnection();

    // Resolves, connects, tunnels through the proxy and shakes hands as the target says.
    // Cancelling (close) interrupts every step, the name look-up included.
    void connect(const NetConnectTarget& target, DoneHandler done);
    // Whether the proxy refused the tunnel but kept the connection open for another
    // CONNECT (its refusal read whole, with keep-alive).
    bool awaitsTunnel() const { return awaitingTunnel_ && isOpen(); }
    // Whether `target` can be tunnelled to on this connection: the same proxy and server.
    bool canTunnelTo(const NetConnectTarget& target) const;
    // Asks the proxy again, on the same connection, to open the tunnel to `target` (whose
    // proxy settings carry the answer to its challenge); only while awaitsTunnel().
    void retunnel(const NetConnectTarget& target, DoneHandler done);
    void readSome(std::uint8_t* buffer, std::size_t size, IoHandler done);
    // As readSome, for when nothing is likely to be there yet (an answer not yet sent):
    // waits until the socket is readable before reading, rather than trying a read first.
    void readWhenReadable(std::uint8_t* buffer, std::size_t size, IoHandler done);
    // As readWhenReadable, for a caller that has just found the connection reusable and has
    // not let the loop run since: no system call is spent before the socket reports input.
    void readAfterReuseCheck(std::uint8_t* buffer, std::size_t size, IoHandler done);
    void writeAll(const std::uint8_t* bytes, std::size_t size, IoHandler done);
    // Writes what the socket takes at once, without waiting and without a completion to
    // run later; 0 when it takes nothing, fails, or the connection speaks TLS (the caller
    // then writes the rest with writeAll, which reports any failure).
    std::size_t writeNow(const std::uint8_t* bytes, std::size_t size);
    void close();
    bool isOpen() const;
    // Whether an idle connection still looks usable: open, with nothing to read and no
    // end of stream waiting.
    bool looksReusable();
    boost::asio::io_context& context() { return context_; }
    // The head of a proxy's answer to CONNECT that asks for credentials (407, or 401 as some
    // proxies send for refused ones), after connect failed because of it.
    const std::string& refusedTunnelAnswer() const { return refusedTunnelAnswer_; }
    const NetConnectTarget& target() const { return target_; }

    // The error a failed read or write stands for.
    static foundation::Error errorFor(const boost::system::error_code& ec);

private:
    void connectTcp(const boost::asio::ip::tcp::resolver::results_type& endpoints);
    void tunnel();
    void readTunnelAnswer();
    void tunnelAnswered(std::size_t headEnd);
    void readRefusalBody();
    void refused(bool keep);
    void socksConnect();
    void handshake();
    void finish(std::optional<foundation::Error> error);
    foundation::Error tlsError(const boost::system::error_code& ec);

    boost::asio::io_context& context_;
    boost::asio::ip::tcp::resolver resolver_;
    NetSocket socket_;
    std::unique_ptr<boost::asio::ssl::context> tlsContext_;
    std::unique_ptr<boost::asio::ssl::stream<boost::asio::ip::tcp::socket&>> tls_;
    NetConnectTarget target_;
    DoneHandler done_;
    std::string tunnelBuffer_;
    std::string refusedTunnelAnswer_;
    std::unique_ptr<NetResponseParser> refusal_;  // reads the refusal's body, then drops it
    std::size_t refusalBytes_ = 0;
    bool awaitingTunnel_ = false;
    bool closed_ = false;
};

}  // namespace net
