#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "support/Latch.h"

namespace httptest {

// A server on 127.0.0.1 for one connection: it reads the request head, sends `answer` (a
// head and part of the body it promises) and then holds the connection open, sending
// nothing more, until release() lets it close it (or the server is destroyed).
class PartBodyServer {
public:
    explicit PartBodyServer(std::string answer) : answer_(std::move(answer)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length);
        ::listen(listener_, 4);
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~PartBodyServer() {
        release();
        ::shutdown(listener_, SHUT_RDWR);
        thread_.join();
        ::close(listener_);
    }
    PartBodyServer(const PartBodyServer&) = delete;
    PartBodyServer& operator=(const PartBodyServer&) = delete;

    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }
    // Closes the connection once the answer is out; from any thread.
    void release() { released_.count_down(); }

private:
    void serve() {
        int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) return;
        std::string request;
        char buffer[4096];
        while (request.find("\r\n\r\n") == std::string::npos) {
            ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            request.append(buffer, static_cast<std::size_t>(n));
        }
        for (std::size_t at = 0; at < answer_.size();) {
            ssize_t n = ::send(client, answer_.data() + at, answer_.size() - at, MSG_NOSIGNAL);
            if (n <= 0) break;
            at += static_cast<std::size_t>(n);
        }
        released_.wait();
        ::close(client);
    }

    std::string answer_;
    testsupport::Latch released_{1};
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::thread thread_;
};

}  // namespace httptest
