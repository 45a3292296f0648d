#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/httpserver/TestCertificates.h"

namespace testsupport {

// A request as the test server read it.
struct ReceivedRequest {
    std::string method;
    std::string target;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    int connection = 0;  // 1 for the first accepted connection
    std::optional<std::string> header(const std::string& name) const;
};

// What the server does with one request: wait, send raw bytes, and then keep the
// connection, close it or reset it.
struct ScriptedAnswer {
    enum class Then { KeepOpen, Close, Reset };
    std::string raw;
    std::chrono::milliseconds delay{0};
    Then then = Then::KeepOpen;
    // For a CONNECT request: after sending `raw`, relay bytes to this port on 127.0.0.1.
    std::optional<std::uint16_t> tunnelToPort;

    static ScriptedAnswer ok(const std::string& body, const std::string& extraHeaders = "");
};

// An HTTP/1.1 server on 127.0.0.1 (or ::1) for tests, plain or TLS, run by its own
// threads. Each request goes to the handler, whose answer is sent as it stands.
class TestHttpServer {
public:
    using Handler = std::function<ScriptedAnswer(const ReceivedRequest&)>;
    struct Options {
        bool ipv6 = false;
        std::optional<PemIdentity> tlsIdentity;
        // PEM of an authority whose client certificates the server demands.
        std::optional<std::string> requireClientCertificateFrom;
    };

    explicit TestHttpServer(Handler handler);
    TestHttpServer(Handler handler, Options options);
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    std::uint16_t port() const { return port_; }
    // "http://127.0.0.1:<port><path>" (https with TLS; [::1] for IPv6).
    std::string url(const std::string& path = "/") const;
    int acceptedConnections() const { return accepted_; }
    std::vector<ReceivedRequest> requests() const;
    // The subject of the client certificate of the last TLS connection, if one was shown.
    std::optional<std::string> lastClientCertificateSubject() const;
    // The host name the last TLS client asked for (SNI), if it named one.
    std::optional<std::string> lastServerName() const;

private:
    struct Connection;
    void acceptLoop();
    void serve(std::shared_ptr<Connection> connection, int index);

    Handler handler_;
    Options options_;
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<int> accepted_{0};
    std::atomic<bool> stopping_{false};
    void* tlsContext_ = nullptr;  // SSL_CTX
    mutable std::mutex mutex_;
    std::vector<ReceivedRequest> requests_;
    std::optional<std::string> clientSubject_;
    std::optional<std::string> serverName_;
    std::vector<std::shared_ptr<Connection>> connections_;
    std::vector<std::thread> threads_;
    std::thread acceptThread_;
};

}  // namespace testsupport
