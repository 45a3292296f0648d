#include "platform/net/NetConnection.h"

#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <sys/socket.h>

#include <array>
#include <cerrno>

#include <fmt/format.h>
#include <boost/asio/connect.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/ssl/error.hpp>
#include <boost/asio/write.hpp>

#include "platform/net/NetSOCKSClient.h"

namespace net {

namespace asio = boost::asio;
using asio::ip::tcp;

namespace {

// A proxy's answer to CONNECT longer than this is refused.
constexpr std::size_t TunnelAnswerLimit = 64 * 1024;

foundation::Error makeError(const char* domain, int code, std::string message) {
    return foundation::Error{domain, code, std::move(message), {}};
}

std::string bareHost(const std::string& host) {
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        return host.substr(1, host.size() - 2);
    return host;
}

bool isIpLiteral(const std::string& host) {
    boost::system::error_code ec;
    asio::ip::make_address(host, ec);
    return !ec;
}

}  // namespace

NetConnection::NetConnection(asio::io_context& context)
    : context_(context), resolver_(context), socket_(context) {}

NetConnection::~NetConnection() {
    boost::system::error_code ignored;
    socket_.close(ignored);
}

void NetConnection::connect(const NetConnectTarget& target, DoneHandler done) {
    target_ = target;
    done_ = std::move(done);
    std::string host = bareHost(target.proxy ? target.proxy->host : target.host);
    std::uint16_t port = target.proxy ? target.proxy->port : target.port;
    auto self = shared_from_this();
    resolver_.async_resolve(
        host, std::to_string(port),
        [self](const boost::system::error_code& ec, tcp::resolver::results_type results) {
            if (self->closed_) return self->finish(errorFor(asio::error::operation_aborted));
            if (ec) {
                return self->finish(makeError(NetCFNetworkErrorDomain, NetErrorHostNotFound,
                                              "The host could not be found: " + ec.message()));
            }
            self->connectTcp(results);
        });
}

void NetConnection::connectTcp(const tcp::resolver::results_type& endpoints) {
    auto self = shared_from_this();
    asio::async_connect(socket_, endpoints,
                        [self](const boost::system::error_code& ec, const tcp::endpoint&) {
                            if (ec) return self->finish(errorFor(ec));
                            boost::system::error_code ignored;
                            self->socket_.set_option(tcp::no_delay(true), ignored);
                            if (self->target_.proxy &&
                                self->target_.proxy->kind == NetProxySettings::Kind::SOCKS)
                                return self->socksConnect();
                            if (self->target_.proxy && self->target_.tls) return self->tunnel();
                            if (self->target_.tls) return self->handshake();
                            self->finish(std::nullopt);
                        });
}

void NetConnection::socksConnect() {
    const NetProxySettings& proxy = *target_.proxy;
    NetSOCKSClient::Options options;
    options.target = NetSOCKS5Target{target_.host, target_.port};
    options.username = proxy.username;
    options.password = proxy.password;
    options.timeLimit = proxy.socksTimeLimit;
    auto self = shared_from_this();
    NetSOCKSClient::start(socket_, std::move(options),
                          [self](std::optional<foundation::Error> error) {
                              if (self->closed_)
                                  return self->finish(errorFor(asio::error::operation_aborted));
                              if (error) return self->finish(std::move(error));
                              if (self->target_.tls) return self->handshake();
                              self->finish(std::nullopt);
                          });
}

bool NetConnection::canTunnelTo(const NetConnectTarget& target) const {
    const auto& mine = target_.proxy;
    const auto& theirs = target.proxy;
    return target.tls && target.host == target_.host && target.port == target_.port && mine &&
           theirs && mine->kind == NetProxySettings::Kind::HTTP && theirs->kind == mine->kind &&
           theirs->host == mine->host && theirs->port == mine->port;
}

void NetConnection::retunnel(const NetConnectTarget& target, DoneHandler done) {
    target_ = target;
    done_ = std::move(done);
    awaitingTunnel_ = false;
    tunnel();
}

void NetConnection::tunnel() {
    tunnelBuffer_.clear();
    refusedTunnelAnswer_.clear();
    refusal_.reset();
    auto self = shared_from_this();
    std::string authority = fmt::format("{}:{}", target_.host, target_.port);
    std::string authorization;
    if (!target_.proxy->authorization.empty() &&
        target_.proxy->authorization.find_first_of("\r\n") == std::string::npos) {
        authorization = "Proxy-Authorization: " + target_.proxy->authorization + "\r\n";
    }
    auto request = std::make_shared<std::string>(
        fmt::format("CONNECT {0} HTTP/1.1\r\nHost: {0}\r\n{1}\r\n", authority, authorization));
    asio::async_write(socket_, asio::buffer(*request),
                      [self, request](const boost::system::error_code& ec, std::size_t) {
                          if (ec) return self->finish(errorFor(ec));
                          self->readTunnelAnswer();
                      });
}

void NetConnection::readTunnelAnswer() {
    auto self = shared_from_this();
    auto buffer = std::make_shared<std::array<char, 4096>>();
    socket_.async_read_some(
        asio::buffer(*buffer), [self, buffer](const boost::system::error_code& ec, std::size_t n) {
            if (ec) {
                return self->finish(makeError(NetCFNetworkErrorDomain,
                                              NetErrorHTTPProxyConnectionFailure,
                                              "The proxy closed the connection: " + ec.message()));
            }
            self->tunnelBuffer_.append(buffer->data(), n);
            auto end = self->tunnelBuffer_.find("\r\n\r\n");
            if (end != std::string::npos) return self->tunnelAnswered(end);
            if (self->tunnelBuffer_.size() > TunnelAnswerLimit) {
                return self->finish(makeError(NetCFNetworkErrorDomain,
                                              NetErrorHTTPProxyConnectionFailure,
                                              "The proxy's answer is too long"));
            }
            self->readTunnelAnswer();
        });
}

void NetConnection::tunnelAnswered(std::size_t headEnd) {
    // "HTTP/1.1 200 Connection established"
    const std::string& answer = tunnelBuffer_;
    auto space = answer.find(' ');
    bool ok = answer.starts_with("HTTP/") && space != std::string::npos &&
              space + 1 < answer.size() && answer[space + 1] == '2';
    if (ok) return handshake();
    std::string status = answer.substr(space + 1, 4);
    if (!answer.starts_with("HTTP/") || (status != "407 " && status != "401 "))
        return refused(false);
    refusedTunnelAnswer_ = answer.substr(0, headEnd + 4);
    // The refusal's body is read to its end, so that the connection can carry the next
    // CONNECT: a challenge tied to the connection (NTLM) is answered on it.
    refusal_ = std::make_unique<NetResponseParser>();
    refusal_->setBodySink([](const std::uint8_t*, std::size_t) {});
    refusalBytes_ = answer.size();
    if (!refusal_->feed(reinterpret_cast<const std::uint8_t*>(answer.data()), answer.size()))
        return refused(false);
    if (refusal_->messageComplete()) return refused(true);
    readRefusalBody();
}

void NetConnection::readRefusalBody() {
    auto self = shared_from_this();
    auto buffer = std::make_shared<std::array<std::uint8_t, 4096>>();
    socket_.async_read_some(asio::buffer(*buffer),
                            [self, buffer](const boost::system::error_code& ec, std::size_t n) {
                                if (self->closed_)
                                    return self->finish(errorFor(asio::error::operation_aborted));
                                self->refusalBytes_ += n;
                                if (ec || !self->refusal_->feed(buffer->data(), n) ||
                                    self->refusalBytes_ > TunnelAnswerLimit) {
                                    return self->refused(false);
                                }
                                if (self->refusal_->messageComplete()) return self->refused(true);
                                self->readRefusalBody();
                            });
}

void NetConnection::refused(bool whole) {
    const std::string& answer = tunnelBuffer_;
    awaitingTunnel_ = whole && refusal_ && refusal_->keepAlive() &&
                      !refusal_->bodyEndsWithClose() && refusal_->extraBytes() == 0;
    refusal_.reset();
    finish(makeError(NetCFNetworkErrorDomain, NetErrorHTTPProxyConnectionFailure,
                     "The proxy refused the tunnel: " + answer.substr(0, answer.find("\r\n"))));
}

void NetConnection::handshake() {
    namespace ssl = asio::ssl;
    tlsContext_ = std::make_unique<ssl::context>(ssl::context::tls_client);
    tlsContext_->set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 |
                             ssl::context::no_sslv3);
    boost::system::error_code ec;
    const NetTLSSettings& settings = target_.tlsSettings;
    if (settings.validatesCertificateChain) {
        tlsContext_->set_default_verify_paths(ec);
        tlsContext_->set_verify_mode(ssl::verify_peer);
    } else {
        tlsContext_->set_verify_mode(ssl::verify_none);
    }
    if (!settings.clientCertificateChainPEM.empty()) {
        tlsContext_->use_certificate_chain(asio::buffer(settings.clientCertificateChainPEM), ec);
        if (!ec)
            tlsContext_->use_private_key(asio::buffer(settings.clientPrivateKeyPEM),
                                         ssl::context::pem, ec);
        if (ec) {
            return finish(makeError(NetOSStatusErrorDomain, NetTLSErrorProtocol,
                                    "The client certificate could not be used: " + ec.message()));
        }
    }
    tls_ = std::make_unique<ssl::stream<tcp::socket&>>(socket_, *tlsContext_);
    SSL* handle = tls_->native_handle();
    std::string host = bareHost(target_.host);
    if (!isIpLiteral(host)) SSL_set_tlsext_host_name(handle, host.c_str());
    if (settings.validatesCertificateChain) {
        if (isIpLiteral(host)) {
            X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(handle), host.c_str());
        } else {
            SSL_set1_host(handle, host.c_str());
        }
    }
    auto self = shared_from_this();
    tls_->async_handshake(ssl::stream_base::client, [self](const boost::system::error_code& hec) {
        if (hec) return self->finish(self->tlsError(hec));
        self->finish(std::nullopt);
    });
}

foundation::Error NetConnection::tlsError(const boost::system::error_code& ec) {
    if (closed_ || ec == asio::error::operation_aborted)
        return errorFor(asio::error::operation_aborted);
    long verify = SSL_get_verify_result(tls_->native_handle());
    if (verify == X509_V_OK) {
        return makeError(NetOSStatusErrorDomain, NetTLSErrorProtocol,
                         "TLS handshake failed: " + ec.message());
    }
    int code = NetTLSErrorCertificateChainInvalid;
    switch (verify) {
        case X509_V_ERR_CERT_HAS_EXPIRED:
        case X509_V_ERR_CERT_NOT_YET_VALID:
            code = NetTLSErrorCertificateExpired;
            break;
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
            code = NetTLSErrorNoRootCertificate;
            break;
        default:
            break;
    }
    return makeError(NetOSStatusErrorDomain, code,
                     std::string("The server certificate was not accepted: ") +
                         X509_verify_cert_error_string(verify));
}

void NetConnection::finish(std::optional<foundation::Error> error) {
    auto done = std::move(done_);
    done_ = nullptr;
    if (done) done(std::move(error));
}

void NetConnection::readSome(std::uint8_t* buffer, std::size_t size, IoHandler done) {
    if (tls_) {
        tls_->async_read_some(asio::buffer(buffer, size), std::move(done));
    } else {
        socket_.async_read_some(asio::buffer(buffer, size), std::move(done));
    }
}

void NetConnection::readWhenReadable(std::uint8_t* buffer, std::size_t size, IoHandler done) {
    if (tls_) return readSome(buffer, size, std::move(done));
    auto self = shared_from_this();
    socket_.async_wait(
        tcp::socket::wait_read,
        [self, buffer, size, done = std::move(done)](const boost::system::error_code& ec) mutable {
            if (ec) return done(ec, 0);
            ssize_t n;
            do {
                n = ::recv(self->socket_.native_handle(), buffer, size, MSG_DONTWAIT);
            } while (n < 0 && errno == EINTR);
            if (n > 0) return done({}, static_cast<std::size_t>(n));
            if (n == 0) return done(asio::error::eof, 0);
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return self->readSome(buffer, size, std::move(done));
            done(boost::system::error_code(errno, asio::error::get_system_category()), 0);
        });
}

void NetConnection::readAfterReuseCheck(std::uint8_t* buffer, std::size_t size,
                                        IoHandler done) {
    // Bytes already decrypted may wait inside the TLS session, where the check cannot see.
    if (tls_) return readSome(buffer, size, std::move(done));
    socket_.readOnNextReadiness(buffer, size, std::move(done));
}

void NetConnection::writeAll(const std::uint8_t* bytes, std::size_t size, IoHandler done) {
    if (tls_) {
        asio::async_write(*tls_, asio::buffer(bytes, size), std::move(done));
    } else {
        asio::async_write(socket_, asio::buffer(bytes, size), std::move(done));
    }
}

std::size_t NetConnection::writeNow(const std::uint8_t* bytes, std::size_t size) {
    if (tls_ || !isOpen()) return 0;
    ssize_t n;
    do {
        n = ::send(socket_.native_handle(), bytes, size, MSG_DONTWAIT | MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return n > 0 ? static_cast<std::size_t>(n) : 0;
}

void NetConnection::close() {
    closed_ = true;
    resolver_.cancel();
    boost::system::error_code ignored;
    socket_.cancel(ignored);
    socket_.close(ignored);
}

bool NetConnection::isOpen() const {
    return !closed_ && socket_.is_open();
}

bool NetConnection::looksReusable() {
    if (!isOpen()) return false;
    // A peer that closed, or sent something unasked, makes the connection unfit. The probe
    // never waits of itself: switching the socket's mode around it would cost three calls.
    char probe;
    ssize_t n = ::recv(socket_.native_handle(), &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
}

foundation::Error NetConnection::errorFor(const boost::system::error_code& ec) {
    if (ec == asio::error::eof || ec == asio::ssl::error::stream_truncated ||
        ec == asio::error::connection_reset) {
        return makeError(NetCFNetworkErrorDomain, NetErrorNetworkConnectionLost,
                         "The network connection was lost.");
    }
    if (ec == asio::error::operation_aborted)
        return makeError(NetPOSIXErrorDomain, ECANCELED, ec.message());
    if (ec.category() == boost::system::system_category()) {
        return makeError(NetPOSIXErrorDomain, ec.value(), ec.message());
    }
    return makeError(NetOSStatusErrorDomain, NetTLSErrorProtocol, ec.message());
}

}  // namespace net
