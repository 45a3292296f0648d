#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "LoopbackSocket.h"

namespace httptest {

// A hostile server on 127.0.0.1: for each connection it reads the request head, sends
// `head`, then sends `filler` again and again until the client goes away or `limit`
// bytes are out. It never holds more than one filler in memory, so the test's own memory
// stays flat while the client's would grow.
class EndlessServer {
public:
    EndlessServer(std::string head, std::string filler, std::uint64_t limit)
        : head_(std::move(head)), filler_(std::move(filler)), limit_(limit) {
        listener_ = listenOnLoopback(port_);
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
            readRequestHead(client);
            bool open = sendAll(client, head_);
            std::uint64_t out = 0;
            while (open && out < limit_) {
                open = sendAll(client, filler_);
                out += filler_.size();
                sent_ += filler_.size();
            }
            ::close(client);
        }
    }

    std::string head_, filler_;
    std::uint64_t limit_;
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<std::uint64_t> sent_{0};
    std::thread thread_;
};

}  // namespace httptest
