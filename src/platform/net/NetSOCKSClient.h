#pragma once

// The client side of a SOCKS version 5 proxy over a connected socket: it asks the proxy to
// connect to the target (with a user name and password when given) and tells when the
// socket carries the target's bytes. Internal to the stream layer: it includes Asio.

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Error.h"
#include "platform/net/NetSOCKSMessages.h"

namespace net {

class NetSOCKSClient : public std::enable_shared_from_this<NetSOCKSClient> {
public:
    using DoneHandler = std::function<void(std::optional<foundation::Error>)>;

    struct Options {
        NetSOCKS5Target target;
        std::string username;  // empty: offer no authentication only
        std::string password;
        // The whole exchange must end within this, or it fails with ETIMEDOUT.
        std::chrono::milliseconds timeLimit{std::chrono::seconds(30)};
    };

    // The socket must stay open until done is called; done is called exactly once, on the
    // socket's executor. Closing the socket ends the exchange with an error.
    static void start(boost::asio::ip::tcp::socket& socket, Options options, DoneHandler done);

private:
    NetSOCKSClient(boost::asio::ip::tcp::socket& socket, Options options, DoneHandler done);
    bool withCredentials() const { return !options_.username.empty(); }
    // A parser of the answer to a step, and what to do with a whole answer that is no failure.
    using Parser = NetSOCKSAnswer (*)(std::span<const std::uint8_t>, bool withCredentials);
    using Next = void (NetSOCKSClient::*)(const NetSOCKSAnswer&);
    // Sends the bytes, then reads the proxy's answer until it is whole.
    void exchange(std::vector<std::uint8_t> bytes, Parser parse, Next next);
    void receive(Parser parse, Next next);
    void sendGreeting();
    void greetingAnswered(const NetSOCKSAnswer& answer);
    void credentialsAnswered(const NetSOCKSAnswer& answer);
    void sendConnect();
    void connectAnswered(const NetSOCKSAnswer& answer);
    void finish(std::optional<foundation::Error> error);

    boost::asio::ip::tcp::socket& socket_;
    boost::asio::steady_timer timer_;
    Options options_;
    DoneHandler done_;
    std::vector<std::uint8_t> outgoing_;
    std::vector<std::uint8_t> answer_;
    bool timedOut_ = false;
};

}  // namespace net
