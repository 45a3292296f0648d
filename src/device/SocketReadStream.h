#pragma once

#include <cstddef>
#include <string>

// A read stream over a socket it does not own: reads until the peer closes, waiting for
// bytes on a socket that does not block, and keeps the error of a failed read. Each wait
// for bytes lasts at most `timeoutMs` (0: without limit); one that passes fails the read
// as timed out.
class SocketReadStream {
public:
    explicit SocketReadStream(int socket, unsigned int timeoutMs = 0)
        : socket_(socket), timeoutMs_(timeoutMs) {}
    SocketReadStream(const SocketReadStream&) = delete;
    SocketReadStream& operator=(const SocketReadStream&) = delete;

    bool open();
    bool isOpen() const { return open_; }
    // The count read, 0 at the end of the stream, -1 on failure (streamError() says why).
    long read(void* bytes, std::size_t maxLength);
    void close() { open_ = false; }
    const std::string& streamError() const { return error_; }

private:
    int socket_;
    unsigned int timeoutMs_;
    bool open_ = false;
    std::string error_;
};
