#include "platform/net/NetSOCKSClient.h"

#include <cerrno>
#include <utility>

#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

#include "platform/net/NetStreamTypes.h"

namespace net {

namespace asio = boost::asio;

namespace {

foundation::Error ioError(const boost::system::error_code& ec, bool timedOut) {
    if (timedOut) {
        return foundation::Error{NetPOSIXErrorDomain, ETIMEDOUT,
                                 "The SOCKS proxy did not answer in time", {}};
    }
    if (ec == asio::error::eof || ec == asio::error::connection_reset) {
        return foundation::Error{NetCFNetworkErrorDomain, NetErrorNetworkConnectionLost,
                                 "The SOCKS proxy closed the connection", {}};
    }
    return foundation::Error{NetPOSIXErrorDomain, ec.value(), ec.message(), {}};
}

foundation::Error socksError(int code, std::string message) {
    return foundation::Error{NetCFNetworkErrorDomain, code, std::move(message), {}};
}

NetSOCKSAnswer parseCredentials(std::span<const std::uint8_t> bytes, bool) {
    return NetSOCKSMessages::parseCredentialsAnswer(bytes);
}

NetSOCKSAnswer parseConnect(std::span<const std::uint8_t> bytes, bool) {
    return NetSOCKSMessages::parseConnectAnswer(bytes);
}

}  // namespace

NetSOCKSClient::NetSOCKSClient(asio::ip::tcp::socket& socket, Options options, DoneHandler done)
    : socket_(socket),
      timer_(socket.get_executor()),
      options_(std::move(options)),
      done_(std::move(done)) {}

void NetSOCKSClient::start(asio::ip::tcp::socket& socket, Options options, DoneHandler done) {
    std::shared_ptr<NetSOCKSClient> client(
        new NetSOCKSClient(socket, std::move(options), std::move(done)));
    client->timer_.expires_after(client->options_.timeLimit);
    std::weak_ptr<NetSOCKSClient> weak = client;
    client->timer_.async_wait([weak](const boost::system::error_code& ec) {
        auto self = weak.lock();
        if (ec || !self || !self->done_) return;
        // Cancelling the socket's work ends the pending step with the time-out's error.
        self->timedOut_ = true;
        boost::system::error_code ignored;
        self->socket_.cancel(ignored);
    });
    client->sendGreeting();
}

void NetSOCKSClient::exchange(std::vector<std::uint8_t> bytes, Parser parse, Next next) {
    outgoing_ = std::move(bytes);
    answer_.clear();
    auto self = shared_from_this();
    asio::async_write(socket_, asio::buffer(outgoing_),
                      [self, parse, next](const boost::system::error_code& ec, std::size_t) {
                          if (ec || self->timedOut_)
                              return self->finish(ioError(ec, self->timedOut_));
                          self->receive(parse, next);
                      });
}

void NetSOCKSClient::receive(Parser parse, Next next) {
    NetSOCKSAnswer answer = parse(answer_, withCredentials());
    if (answer.state == NetSOCKSAnswer::State::Failed) return finish(answer.error);
    if (answer.state == NetSOCKSAnswer::State::Done) return ((*this).*next)(answer);
    // Read exactly what the answer still lacks: whatever follows belongs to the target.
    std::size_t have = answer_.size();
    answer_.resize(answer.length);
    auto self = shared_from_this();
    asio::async_read(socket_, asio::buffer(answer_.data() + have, answer.length - have),
                     [self, parse, next](const boost::system::error_code& ec, std::size_t) {
                         if (ec || self->timedOut_)
                             return self->finish(ioError(ec, self->timedOut_));
                         self->receive(parse, next);
                     });
}

void NetSOCKSClient::sendGreeting() {
    exchange(NetSOCKSMessages::greeting(withCredentials()), &NetSOCKSMessages::parseGreetingAnswer,
             &NetSOCKSClient::greetingAnswered);
}

void NetSOCKSClient::greetingAnswered(const NetSOCKSAnswer& answer) {
    if (answer.method != NetSOCKSMessages::MethodUsernamePassword) return sendConnect();
    auto message = NetSOCKSMessages::credentials(options_.username, options_.password);
    if (!message) {
        return finish(socksError(NetErrorSOCKS5BadCredentials,
                                 "The SOCKS user name or password is empty or too long"));
    }
    exchange(std::move(*message), &parseCredentials, &NetSOCKSClient::credentialsAnswered);
}

void NetSOCKSClient::credentialsAnswered(const NetSOCKSAnswer&) {
    sendConnect();
}

void NetSOCKSClient::sendConnect() {
    auto message = NetSOCKSMessages::connect(options_.target);
    if (!message) {
        return finish(
            socksError(NetErrorSOCKS5BadState, "The host name cannot be sent to the SOCKS proxy"));
    }
    exchange(std::move(*message), &parseConnect, &NetSOCKSClient::connectAnswered);
}

void NetSOCKSClient::connectAnswered(const NetSOCKSAnswer&) {
    finish(std::nullopt);
}

void NetSOCKSClient::finish(std::optional<foundation::Error> error) {
    timer_.cancel();
    auto done = std::exchange(done_, nullptr);
    if (done) done(std::move(error));
}

}  // namespace net
