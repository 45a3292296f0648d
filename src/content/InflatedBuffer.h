#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace content {

// Room for a large inflated body, written once and then only read: its bytes start out
// unset (nothing zeroes them first), and the system is asked to back it with huge pages,
// so that filling tens of megabytes does not take a page fault every 4 KiB.
class InflatedBuffer {
public:
    // Empty (`bytes()` of size 0) when `size` is 0 or no memory could be had.
    explicit InflatedBuffer(std::size_t size);
    ~InflatedBuffer();
    InflatedBuffer(const InflatedBuffer&) = delete;
    InflatedBuffer& operator=(const InflatedBuffer&) = delete;

    std::span<std::uint8_t> bytes() { return {data_, size_}; }
    std::span<const std::uint8_t> bytes() const { return {data_, size_}; }

private:
    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t mapped_ = 0;
};

}  // namespace content
