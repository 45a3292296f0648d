#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace httptest {

// The socket pieces of the small servers the tests start on 127.0.0.1.

// A listening socket on a free port of 127.0.0.1; `port` is set to it. A receive buffer
// size (the connections inherit it) keeps a large request waiting on the client's side.
inline int listenOnLoopback(std::uint16_t& port, int receiveBuffer = 0) {
    int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (receiveBuffer > 0)
        ::setsockopt(listener, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(listener, reinterpret_cast<sockaddr*>(&address), length);
    ::listen(listener, 4);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return listener;
}

// Reads until the end of the request head (or until the client stops sending).
inline void readRequestHead(int client) {
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
        ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        request.append(buffer, static_cast<std::size_t>(n));
    }
}

// False when the client went away before all of it was sent.
inline bool sendAll(int socket, const std::string& bytes) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        ssize_t n = ::send(socket, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
        if (n <= 0) return false;
        at += static_cast<std::size_t>(n);
    }
    return true;
}

// Reads exactly n bytes, or fewer when the client stops.
inline std::string receive(int client, std::size_t n) {
    std::string out;
    char buffer[512];
    while (out.size() < n) {
        ssize_t got = ::recv(client, buffer, std::min(sizeof buffer, n - out.size()), 0);
        if (got <= 0) break;
        out.append(buffer, static_cast<std::size_t>(got));
    }
    return out;
}

inline void drain(int client) {
    char buffer[512];
    while (::recv(client, buffer, sizeof buffer, 0) > 0) {
    }
}

// A proxy that serves one connection with the script, on a thread of its own.
class ScriptedProxy {
public:
    explicit ScriptedProxy(std::function<void(int client)> script) {
        listener_ = listenOnLoopback(port_);
        thread_ = std::thread([this, script = std::move(script)] {
            int client = ::accept(listener_, nullptr, nullptr);
            if (client < 0) return;
            script(client);
            ::close(client);
        });
    }
    ~ScriptedProxy() {
        ::shutdown(listener_, SHUT_RDWR);
        thread_.join();
        ::close(listener_);
    }
    std::uint16_t port() const { return port_; }

private:
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::thread thread_;
};

}  // namespace httptest
