#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace media {

// A forward-only reader over a window of bytes taken from a device database. A child cursor
// covers part of its parent's window, so a record can never read past its parent or the file.
// Every read is checked: a short window answers nullopt or false and leaves the cursor as it was.
class ByteCursor {
public:
    using Bytes = std::span<const std::uint8_t>;

    ByteCursor() = default;
    explicit ByteCursor(Bytes bytes) : bytes_(bytes) {}

    std::size_t position() const { return position_; }
    std::size_t remaining() const { return bytes_.size() - position_; }
    bool atEnd() const { return remaining() == 0; }

    // The next n bytes without moving.
    std::optional<Bytes> peek(std::size_t n) const {
        if (n > remaining()) return std::nullopt;
        return bytes_.subspan(position_, n);
    }
    // The next n bytes, stepped over.
    std::optional<Bytes> read(std::size_t n) {
        auto bytes = peek(n);
        if (bytes) position_ += n;
        return bytes;
    }
    bool skip(std::size_t n) {
        if (n > remaining()) return false;
        position_ += n;
        return true;
    }
    // A cursor over the next n bytes, which this cursor steps over.
    std::optional<ByteCursor> child(std::size_t n);

    // Little-endian fields of a span already taken; 0 for a field that does not fit. Inline:
    // the database readers call these for every field of every record.
    static std::uint8_t u8(Bytes bytes, std::size_t offset) {
        return offset < bytes.size() ? bytes[offset] : 0;
    }
    static std::uint16_t u16(Bytes bytes, std::size_t offset) {
        if (offset > bytes.size() || bytes.size() - offset < 2) return 0;
        return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
    }
    static std::uint32_t u32(Bytes bytes, std::size_t offset) {
        if (offset > bytes.size() || bytes.size() - offset < 4) return 0;
        return static_cast<std::uint32_t>(bytes[offset]) |
               (static_cast<std::uint32_t>(bytes[offset + 1]) << 8) |
               (static_cast<std::uint32_t>(bytes[offset + 2]) << 16) |
               (static_cast<std::uint32_t>(bytes[offset + 3]) << 24);
    }
    // Whether the span begins with the four-letter tag.
    static bool hasTag(Bytes bytes, std::string_view tag);
    // Bytes [from, from + n) of a span, clipped to what the span holds.
    static Bytes slice(Bytes bytes, std::size_t from, std::size_t n);

private:
    Bytes bytes_;
    std::size_t position_ = 0;
};

}  // namespace media
