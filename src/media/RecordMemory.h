#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "foundation/Value.h"

namespace media {

// What a value built from a device library takes of the heap, as the C library's allocator
// hands it out: every block rounded up to the allocator's granule with its header, every
// dictionary entry its own tree node, and texts too long to sit inside their string their
// own block. Library records are charged this against the reader's memory bound, so that a
// library of many small records pays for them as much as one of long texts.
namespace RecordMemory {

// The block the allocator hands out for a request of `bytes`: glibc on 64-bit machines gives
// a block an 8-byte header, a multiple of 16 bytes and at least 32.
constexpr std::uint64_t heapBlock(std::size_t bytes) {
    if (bytes == 0) return 0;
    const std::uint64_t block = (std::uint64_t{bytes} + sizeof(std::size_t) + 15) / 16 * 16;
    return block < 32 ? 32 : block;
}
// The block a string keeps outside itself; 0 for a short one held inline.
std::uint64_t textBytes(const std::string& text);
// A dictionary entry's own node with its key's block, not counting what its value owns.
std::uint64_t entryBytes(const std::string& key);
// Everything the value owns on the heap, not counting the value itself.
std::uint64_t ownedBytes(const foundation::Value& value);

}  // namespace RecordMemory

}  // namespace media
