#pragma once

#include <cstdint>
#include <string>
#include <thread>

#include "LoopbackSocket.h"
#include "support/Latch.h"

namespace httptest {

// A server on 127.0.0.1 for one connection: it reads the request head, sends `answer` (a
// head and part of the body it promises) and then holds the connection open, sending
// nothing more, until release() lets it close it (or the server is destroyed).
class PartBodyServer {
public:
    explicit PartBodyServer(std::string answer) : answer_(std::move(answer)) {
        listener_ = listenOnLoopback(port_);
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
        readRequestHead(client);
        sendAll(client, answer_);
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
