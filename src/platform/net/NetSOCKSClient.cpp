#include "platform/net/NetSOCKSClient.h"

#include <cerrno>

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

void NetSOCKSClient::send(std::vector<std::uint8_t> bytes, void (NetSOCKSClient::*next)()) {
    outgoing_ = std::move(bytes);
    auto self = shared_from_this();
    asio::async_write(socket_, asio::buffer(outgoing_),
                      [self, next](const boost::system::error_code& ec, std::size_t) {
                          if (ec || self->timedOut_)
                              return self->finish(ioError(ec, self->timedOut_));
                          ((*self).*next)();
                      });
}

void NetSOCKSClient::receive(Parser parse, void (NetSOCKSClient::*next)(const NetSOCKSAnswer&)) {
    NetSOCKSAnswer answer = parse(answer_, withCredentials());
    if (answer.state != NetSOCKSAnswer::State::NeedMore) return ((*this).*next)(answer);
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
    send(NetSOCKSMessages::greeting(withCredentials()), &NetSOCKSClient::readGreetingAnswer);
}

void NetSOCKSClient::readGreetingAnswer() {
    answer_.clear();
    receive(&NetSOCKSMessages::parseGreetingAnswer, &NetSOCKSClient::greetingAnswered);
}

void NetSOCKSClient::greetingAnswered(const NetSOCKSAnswer& answer) {
    if (answer.state == NetSOCKSAnswer::State::Failed) return finish(answer.error);
    if (answer.method != NetSOCKSMessages::MethodUsernamePassword) return sendConnect();
    auto message = NetSOCKSMessages::credentials(options_.username, options_.password);
    if (!message) {
        return finish(foundation::Error{NetCFNetworkErrorDomain, NetErrorSOCKS5BadCredentials,
                                        "The SOCKS user name or password is empty or too long",
                                        {}});
    }
    send(std::move(*message), &NetSOCKSClient::readCredentialsAnswer);
}

void NetSOCKSClient::readCredentialsAnswer() {
    answer_.clear();
    receive(&parseCredentials, &NetSOCKSClient::credentialsAnswered);
}

void NetSOCKSClient::credentialsAnswered(const NetSOCKSAnswer& answer) {
    if (answer.state == NetSOCKSAnswer::State::Failed) return finish(answer.error);
    sendConnect();
}

void NetSOCKSClient::sendConnect() {
    auto message = NetSOCKSMessages::connect(options_.target);
    if (!message) {
        return finish(foundation::Error{NetCFNetworkErrorDomain, NetErrorSOCKS5BadState,
                                        "The host name cannot be sent to the SOCKS proxy", {}});
    }
    send(std::move(*message), &NetSOCKSClient::readConnectAnswer);
}

void NetSOCKSClient::readConnectAnswer() {
    answer_.clear();
    receive(&parseConnect, &NetSOCKSClient::connectAnswered);
}

void NetSOCKSClient::connectAnswered(const NetSOCKSAnswer& answer) {
    if (answer.state == NetSOCKSAnswer::State::Failed) return finish(answer.error);
    finish(std::nullopt);
}

void NetSOCKSClient::finish(std::optional<foundation::Error> error) {
    timer_.cancel();
    auto done = std::exchange(done_, nullptr);
    if (done) done(std::move(error));
}

}  // namespace net
