#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>

namespace net {

// Body bytes waiting for a stream's client, kept in the blocks the socket read them into,
// so that a body goes from the network to its file without being copied on the way. The
// bytes of a read are first taken in by receiveSpace()/received(); what of them is body is
// then added with append(), in place when it lies in those bytes, else as a copy.
class NetBodyBuffer {
public:
    struct Block;

    NetBodyBuffer();
    ~NetBodyBuffer();
    NetBodyBuffer(const NetBodyBuffer&) = delete;
    NetBodyBuffer& operator=(const NetBodyBuffer&) = delete;

    // Free space to read into, never empty. The block stays alive while `keep` is held,
    // which a read under way holds and lets go of before its bytes are handed in.
    std::span<std::uint8_t> receiveSpace(std::shared_ptr<Block>& keep);
    // The last `count` bytes of that space were filled; they are returned by lastReceived().
    void received(std::size_t count);
    std::span<const std::uint8_t> lastReceived() const;

    // Adds body bytes, in place when they lie within lastReceived().
    void append(const std::uint8_t* bytes, std::size_t size);

    // The oldest waiting bytes that lie in one piece; empty when none wait.
    std::span<const std::uint8_t> front() const;
    // Drops `count` bytes from the front (at most size()).
    void consume(std::size_t count);
    std::size_t size() const { return waiting_; }

private:
    struct Piece {
        std::shared_ptr<Block> block;
        const std::uint8_t* bytes;
        std::size_t size;
    };
    std::shared_ptr<Block> takeBlock();
    void recycle(std::shared_ptr<Block> block);

    std::deque<Piece> pieces_;
    std::size_t waiting_ = 0;
    std::shared_ptr<Block> receiving_;
    std::size_t lastOffset_ = 0;
    std::size_t lastCount_ = 0;
    // A block whose bytes were all read, kept for the next read.
    std::shared_ptr<Block> spare_;
};

}  // namespace net
