#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace httptest {

// A hostile server on 127.0.0.1: for each connection it reads the request head, sends
// `head`, then sends `filler` again and again until the client goes away or `limit`
// bytes are out. It never holds more than one filler in memory, so the test's own memory
// stays flat while the client's would grow.
class EndlessServer {
public:
    EndlessServer(std::string head, std::string filler, std::uint64_t limit)
        : head_(std::move(head)), filler_(std::move(filler)), limit_(limit) {
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
    ~EndlessServer() {
        ::shutdown(listener_, SHUT_RDWR);
        thread_.join();
        ::close(listener_);
    }
    EndlessServer(const EndlessServer&) = delete;
    EndlessServer& operator=(const EndlessServer&) = delete;

    std::string url(const std::string& path = "/") const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    // Bytes sent after the head, over all connections.
    std::uint64_t sent() const { return sent_; }

private:
    void serve() {
        for (;;) {
            int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) return;
            std::string request;
            char buffer[4096];
            while (request.find("\r\n\r\n") == std::string::npos) {
                ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
                if (n <= 0) break;
                request.append(buffer, static_cast<std::size_t>(n));
            }
            bool open = send(client, head_);
            std::uint64_t out = 0;
            while (open && out < limit_) {
                open = send(client, filler_);
                out += filler_.size();
                sent_ += filler_.size();
            }
            ::close(client);
        }
    }
    static bool send(int socket, const std::string& bytes) {
        std::size_t at = 0;
        while (at < bytes.size()) {
            ssize_t n = ::send(socket, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
            if (n <= 0) return false;
            at += static_cast<std::size_t>(n);
        }
        return true;
    }

    std::string head_, filler_;
    std::uint64_t limit_;
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<std::uint64_t> sent_{0};
    std::thread thread_;
};

}  // namespace httptest
