#include "media/ByteCursor.h"

#include <algorithm>

namespace media {

std::optional<ByteCursor::Bytes> ByteCursor::peek(std::size_t n) const {
    if (n > remaining()) return std::nullopt;
    return bytes_.subspan(position_, n);
}

std::optional<ByteCursor::Bytes> ByteCursor::read(std::size_t n) {
    auto bytes = peek(n);
    if (bytes) position_ += n;
    return bytes;
}

bool ByteCursor::skip(std::size_t n) {
    if (n > remaining()) return false;
    position_ += n;
    return true;
}

std::optional<ByteCursor> ByteCursor::child(std::size_t n) {
    auto bytes = read(n);
    if (!bytes) return std::nullopt;
    return ByteCursor(*bytes);
}

std::uint8_t ByteCursor::u8(Bytes bytes, std::size_t offset) {
    return offset < bytes.size() ? bytes[offset] : 0;
}

std::uint16_t ByteCursor::u16(Bytes bytes, std::size_t offset) {
    if (offset > bytes.size() || bytes.size() - offset < 2) return 0;
    return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

std::uint32_t ByteCursor::u32(Bytes bytes, std::size_t offset) {
    if (offset > bytes.size() || bytes.size() - offset < 4) return 0;
    return static_cast<std::uint32_t>(bytes[offset]) |
           (static_cast<std::uint32_t>(bytes[offset + 1]) << 8) |
           (static_cast<std::uint32_t>(bytes[offset + 2]) << 16) |
           (static_cast<std::uint32_t>(bytes[offset + 3]) << 24);
}

bool ByteCursor::hasTag(Bytes bytes, std::string_view tag) {
    if (bytes.size() < tag.size()) return false;
    return std::equal(tag.begin(), tag.end(), bytes.begin(),
                      [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; });
}

ByteCursor::Bytes ByteCursor::slice(Bytes bytes, std::size_t from, std::size_t n) {
    if (from >= bytes.size()) return {};
    return bytes.subspan(from, std::min(n, bytes.size() - from));
}

}  // namespace media
