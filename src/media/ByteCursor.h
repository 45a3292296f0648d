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
    std::optional<Bytes> peek(std::size_t n) const;
    // The next n bytes, stepped over.
    std::optional<Bytes> read(std::size_t n);
    bool skip(std::size_t n);
    // A cursor over the next n bytes, which this cursor steps over.
    std::optional<ByteCursor> child(std::size_t n);

    // Little-endian fields of a span already taken; 0 for a field that does not fit.
    static std::uint8_t u8(Bytes bytes, std::size_t offset);
    static std::uint16_t u16(Bytes bytes, std::size_t offset);
    static std::uint32_t u32(Bytes bytes, std::size_t offset);
    // Whether the span begins with the four-letter tag.
    static bool hasTag(Bytes bytes, std::string_view tag);
    // Bytes [from, from + n) of a span, clipped to what the span holds.
    static Bytes slice(Bytes bytes, std::size_t from, std::size_t n);

private:
    Bytes bytes_;
    std::size_t position_ = 0;
};

}  // namespace media
