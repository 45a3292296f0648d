#include "platform/net/NetBodyBuffer.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <utility>

namespace net {

namespace {

// One read of the socket at most; a block with less room than a read's worth is left for
// a fresh one.
constexpr std::size_t BlockSize = 64 * 1024;
constexpr std::size_t MinimumSpace = 16 * 1024;

}  // namespace

struct NetBodyBuffer::Block {
    explicit Block(std::size_t size)
        : bytes(std::make_unique_for_overwrite<std::uint8_t[]>(size)), capacity(size) {}
    std::unique_ptr<std::uint8_t[]> bytes;
    std::size_t capacity;
    std::size_t used = 0;
};

NetBodyBuffer::NetBodyBuffer() = default;
NetBodyBuffer::~NetBodyBuffer() = default;

std::span<std::uint8_t> NetBodyBuffer::receiveSpace(std::shared_ptr<Block>& keep) {
    // A block whose bytes were all read is filled again from its start.
    if (receiving_ && receiving_.use_count() == 1) {
        receiving_->used = 0;
        lastOffset_ = 0;
        lastCount_ = 0;
    }
    if (!receiving_ || receiving_->capacity - receiving_->used < MinimumSpace) {
        auto full = std::exchange(receiving_, takeBlock());
        if (full) recycle(std::move(full));
        lastOffset_ = 0;
        lastCount_ = 0;
    }
    keep = receiving_;
    return {receiving_->bytes.get() + receiving_->used, receiving_->capacity - receiving_->used};
}

void NetBodyBuffer::received(std::size_t count) {
    lastOffset_ = receiving_->used;
    lastCount_ = std::min(count, receiving_->capacity - receiving_->used);
    receiving_->used += lastCount_;
}

std::span<const std::uint8_t> NetBodyBuffer::lastReceived() const {
    if (!receiving_) return {};
    return {receiving_->bytes.get() + lastOffset_, lastCount_};
}

void NetBodyBuffer::append(const std::uint8_t* bytes, std::size_t size) {
    if (size == 0) return;
    auto last = lastReceived();
    std::less_equal<const std::uint8_t*> notAfter;
    bool inPlace = !last.empty() && notAfter(last.data(), bytes) &&
                   notAfter(bytes + size, last.data() + last.size());
    if (inPlace) {
        // Body bytes that follow on in the same block make one piece.
        if (!pieces_.empty() && pieces_.back().block == receiving_ &&
            pieces_.back().bytes + pieces_.back().size == bytes) {
            pieces_.back().size += size;
        } else {
            pieces_.push_back({receiving_, bytes, size});
        }
    } else {
        auto copy = std::make_shared<Block>(size);
        std::memcpy(copy->bytes.get(), bytes, size);
        copy->used = size;
        pieces_.push_back({copy, copy->bytes.get(), size});
    }
    waiting_ += size;
}

std::span<const std::uint8_t> NetBodyBuffer::front() const {
    if (pieces_.empty()) return {};
    return {pieces_.front().bytes, pieces_.front().size};
}

void NetBodyBuffer::consume(std::size_t count) {
    while (count > 0 && !pieces_.empty()) {
        Piece& piece = pieces_.front();
        std::size_t n = std::min(count, piece.size);
        piece.bytes += n;
        piece.size -= n;
        waiting_ -= n;
        count -= n;
        if (piece.size > 0) break;
        auto block = std::move(piece.block);
        pieces_.pop_front();
        recycle(std::move(block));
    }
}

std::shared_ptr<NetBodyBuffer::Block> NetBodyBuffer::takeBlock() {
    if (spare_) return std::exchange(spare_, nullptr);
    return std::make_shared<Block>(BlockSize);
}

void NetBodyBuffer::recycle(std::shared_ptr<Block> block) {
    // Only a block nothing else points into: no piece waits in it and no read fills it.
    if (spare_ || block == receiving_ || block.use_count() != 1 || block->capacity != BlockSize)
        return;
    block->used = 0;
    spare_ = std::move(block);
}

}  // namespace net
