#pragma once

#include <openssl/ssl.h>

#include <cstddef>
#include <string>

namespace simdevice {

// One side of a device connection: plain bytes on a socket, or TLS over it once a
// session has switched it on (the device acting as the server).
class SimLink {
public:
    explicit SimLink(int fd) : fd_(fd) {}
    ~SimLink();
    SimLink(const SimLink&) = delete;
    SimLink& operator=(const SimLink&) = delete;

    bool readExactly(void* bytes, std::size_t length);
    bool writeAll(const void* bytes, std::size_t length);
    // What one read gives, at most `length` bytes: the count, 0 once the peer has left,
    // -1 on failure.
    long readSome(void* bytes, std::size_t length);
    // Bytes TLS has taken off the socket and not handed out yet.
    bool hasPending() const;

    // Answers the peer's TLS handshake with the certificate (PEM) and the device key.
    bool startTls(const std::string& certificatePem);
    // Back to plain bytes, once the peer's closing alert has been read when it sends one.
    void stopTls();
    bool isSecure() const { return ssl_ != nullptr; }

private:
    void dropTls();

    int fd_;
    SSL_CTX* context_ = nullptr;
    SSL* ssl_ = nullptr;
};

}  // namespace simdevice
