#pragma once

#include <cstddef>
#include <string>

// A read stream over a socket it does not own: reads until the peer closes, waiting for
// bytes on a socket that does not block, and keeps the error of a failed read.
class SocketReadStream {
public:
    explicit SocketReadStream(int socket) : socket_(socket) {}
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
    bool open_ = false;
    std::string error_;
};
