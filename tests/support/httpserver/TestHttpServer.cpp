#include "support/httpserver/TestHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

namespace testsupport {

namespace {

// Requests larger than this are not expected from the code under test.
constexpr std::size_t RequestLimit = 64 * 1024 * 1024;

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

std::optional<std::string> ReceivedRequest::header(const std::string& name) const {
    for (const auto& [key, value] : headers) {
        if (lower(key) == lower(name)) return value;
    }
    return std::nullopt;
}

ScriptedAnswer ScriptedAnswer::ok(const std::string& body, const std::string& extraHeaders) {
    ScriptedAnswer answer;
    answer.raw = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" +
                 extraHeaders + "\r\n" + body;
    return answer;
}

struct TestHttpServer::Connection {
    int fd = -1;
    SSL* tls = nullptr;
    std::string pending;

    ~Connection() {
        if (tls != nullptr) SSL_free(tls);
        if (fd >= 0) ::close(fd);
    }
    long receive(char* buffer, std::size_t size) {
        if (tls != nullptr) {
            int n = SSL_read(tls, buffer, static_cast<int>(size));
            return n > 0 ? n : (SSL_get_error(tls, n) == SSL_ERROR_ZERO_RETURN ? 0 : -1);
        }
        return ::recv(fd, buffer, size, 0);
    }
    bool sendAll(const std::string& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            long n =
                tls != nullptr
                    ? SSL_write(tls, bytes.data() + done, static_cast<int>(bytes.size() - done))
                    : ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0) return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }
    // Reads until `pending` holds at least `size` bytes; false at the end of the stream.
    bool fill(std::size_t size) {
        char buffer[16384];
        while (pending.size() < size) {
            long n = receive(buffer, sizeof buffer);
            if (n <= 0) return false;
            pending.append(buffer, static_cast<std::size_t>(n));
        }
        return true;
    }
    std::optional<ReceivedRequest> readRequest() {
        char buffer[16384];
        std::size_t end;
        while ((end = pending.find("\r\n\r\n")) == std::string::npos) {
            if (pending.size() > RequestLimit) return std::nullopt;
            long n = receive(buffer, sizeof buffer);
            if (n <= 0) return std::nullopt;
            pending.append(buffer, static_cast<std::size_t>(n));
        }
        ReceivedRequest request;
        std::string head = pending.substr(0, end);
        pending.erase(0, end + 4);
        std::size_t lineEnd = head.find("\r\n");
        std::string line = head.substr(0, lineEnd);
        auto firstSpace = line.find(' ');
        auto secondSpace = line.find(' ', firstSpace + 1);
        if (firstSpace == std::string::npos || secondSpace == std::string::npos)
            return std::nullopt;
        request.method = line.substr(0, firstSpace);
        request.target = line.substr(firstSpace + 1, secondSpace - firstSpace - 1);
        std::size_t at = lineEnd == std::string::npos ? head.size() : lineEnd + 2;
        while (at < head.size()) {
            std::size_t next = head.find("\r\n", at);
            if (next == std::string::npos) next = head.size();
            std::string field = head.substr(at, next - at);
            auto colon = field.find(':');
            if (colon != std::string::npos) {
                std::string value = field.substr(colon + 1);
                while (!value.empty() && value.front() == ' ') value.erase(0, 1);
                request.headers.emplace_back(field.substr(0, colon), value);
            }
            at = next + 2;
        }
        if (auto length = request.header("Content-Length")) {
            std::size_t size = std::stoul(*length);
            if (size > RequestLimit || !fill(size)) return std::nullopt;
            request.body = pending.substr(0, size);
            pending.erase(0, size);
        }
        return request;
    }
};

TestHttpServer::TestHttpServer(Handler handler) : TestHttpServer(std::move(handler), Options()) {}

TestHttpServer::TestHttpServer(Handler handler, Options options)
    : handler_(std::move(handler)), options_(std::move(options)) {
    int family = options_.ipv6 ? AF_INET6 : AF_INET;
    listener_ = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0) throw std::runtime_error("socket failed");
    int yes = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_storage address{};
    socklen_t length;
    if (options_.ipv6) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&address);
        in6->sin6_family = AF_INET6;
        in6->sin6_addr = in6addr_loopback;
        length = sizeof(sockaddr_in6);
    } else {
        auto* in4 = reinterpret_cast<sockaddr_in*>(&address);
        in4->sin_family = AF_INET;
        in4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        length = sizeof(sockaddr_in);
    }
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listener_, 16) != 0) {
        ::close(listener_);
        throw std::runtime_error("bind or listen failed");
    }
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(options_.ipv6 ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                                : reinterpret_cast<sockaddr_in*>(&address)->sin_port);

    if (options_.tlsIdentity) {
        SSL_CTX* context = SSL_CTX_new(TLS_server_method());
        BIO* bio = BIO_new_mem_buf(options_.tlsIdentity->certificate.data(),
                                   static_cast<int>(options_.tlsIdentity->certificate.size()));
        X509* cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
        BIO_free(bio);
        bio = BIO_new_mem_buf(options_.tlsIdentity->privateKey.data(),
                              static_cast<int>(options_.tlsIdentity->privateKey.size()));
        EVP_PKEY* key = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr);
        BIO_free(bio);
        SSL_CTX_use_certificate(context, cert);
        SSL_CTX_use_PrivateKey(context, key);
        X509_free(cert);
        EVP_PKEY_free(key);
        if (options_.requireClientCertificateFrom) {
            bio = BIO_new_mem_buf(options_.requireClientCertificateFrom->data(),
                                  static_cast<int>(options_.requireClientCertificateFrom->size()));
            X509* authority = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
            BIO_free(bio);
            X509_STORE_add_cert(SSL_CTX_get_cert_store(context), authority);
            X509_free(authority);
            SSL_CTX_set_verify(context, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
        }
        tlsContext_ = context;
    }
    acceptThread_ = std::thread([this] { acceptLoop(); });
}

TestHttpServer::~TestHttpServer() {
    stopping_ = true;
    ::shutdown(listener_, SHUT_RDWR);
    acceptThread_.join();
    {
        std::lock_guard guard(mutex_);
        for (auto& connection : connections_) {
            if (connection->fd >= 0) ::shutdown(connection->fd, SHUT_RDWR);
        }
    }
    for (auto& thread : threads_) thread.join();
    ::close(listener_);
    if (tlsContext_ != nullptr) SSL_CTX_free(static_cast<SSL_CTX*>(tlsContext_));
}

std::string TestHttpServer::url(const std::string& path) const {
    return std::string(tlsContext_ != nullptr ? "https" : "http") + "://" +
           (options_.ipv6 ? "[::1]" : "127.0.0.1") + ":" + std::to_string(port_) + path;
}

std::vector<ReceivedRequest> TestHttpServer::requests() const {
    std::lock_guard guard(mutex_);
    return requests_;
}

std::optional<std::string> TestHttpServer::lastClientCertificateSubject() const {
    std::lock_guard guard(mutex_);
    return clientSubject_;
}

std::optional<std::string> TestHttpServer::lastServerName() const {
    std::lock_guard guard(mutex_);
    return serverName_;
}

void TestHttpServer::acceptLoop() {
    // TLS writes go through write(), which raises SIGPIPE when the client has gone. Held
    // back in the server's threads (the serving ones inherit this), it only fails the write.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    while (!stopping_) {
        int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (stopping_) return;
            continue;
        }
        int index = ++accepted_;
        auto connection = std::make_shared<Connection>();
        connection->fd = fd;
        std::lock_guard guard(mutex_);
        connections_.push_back(connection);
        threads_.emplace_back([this, connection, index] { serve(connection, index); });
    }
}

void TestHttpServer::serve(std::shared_ptr<Connection> connection, int index) {
    if (tlsContext_ != nullptr) {
        connection->tls = SSL_new(static_cast<SSL_CTX*>(tlsContext_));
        SSL_set_fd(connection->tls, connection->fd);
        if (SSL_accept(connection->tls) <= 0) return;
        if (const char* name = SSL_get_servername(connection->tls, TLSEXT_NAMETYPE_host_name)) {
            std::lock_guard guard(mutex_);
            serverName_ = name;
        }
        if (X509* peer = SSL_get1_peer_certificate(connection->tls)) {
            char subject[256];
            X509_NAME_oneline(X509_get_subject_name(peer), subject, sizeof subject);
            std::lock_guard guard(mutex_);
            clientSubject_ = subject;
            X509_free(peer);
        }
    }
    while (!stopping_) {
        auto request = connection->readRequest();
        if (!request) return;
        request->connection = index;
        {
            std::lock_guard guard(mutex_);
            requests_.push_back(*request);
        }
        ScriptedAnswer answer = handler_(*request);
        if (answer.delay.count() > 0) std::this_thread::sleep_for(answer.delay);
        if (!answer.raw.empty() && !connection->sendAll(answer.raw)) return;
        if (answer.tunnelToPort) {
            // Relay both ways until either side closes.
            int upstream = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in target{};
            target.sin_family = AF_INET;
            target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            target.sin_port = htons(*answer.tunnelToPort);
            if (::connect(upstream, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0) {
                ::close(upstream);
                return;
            }
            if (!connection->pending.empty())
                ::send(upstream, connection->pending.data(), connection->pending.size(),
                       MSG_NOSIGNAL);
            pollfd fds[2] = {{connection->fd, POLLIN, 0}, {upstream, POLLIN, 0}};
            char buffer[16384];
            while (!stopping_ && ::poll(fds, 2, 200) >= 0) {
                bool done = false;
                for (int side = 0; side < 2 && !done; ++side) {
                    if ((fds[side].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
                    long n = ::recv(fds[side].fd, buffer, sizeof buffer, 0);
                    if (n <= 0 || ::send(fds[1 - side].fd, buffer, static_cast<std::size_t>(n),
                                         MSG_NOSIGNAL) != n) {
                        done = true;
                    }
                }
                if (done) break;
            }
            ::close(upstream);
            return;
        }
        if (answer.then == ScriptedAnswer::Then::Reset) {
            linger hard{1, 0};
            ::setsockopt(connection->fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
            std::lock_guard guard(mutex_);
            ::close(connection->fd);  // with no linger time: a reset
            connection->fd = -1;
            return;
        }
        if (answer.then == ScriptedAnswer::Then::Close) {
            if (connection->tls != nullptr) SSL_shutdown(connection->tls);
            ::shutdown(connection->fd, SHUT_WR);
            return;
        }
    }
}

}  // namespace testsupport
