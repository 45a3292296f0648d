#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace media {

// The texts of many records end to end in one block, each known by its offset and length.
// The block grows with realloc, which moves a large block by remapping its pages instead of
// copying them, so filling it costs about what writing the bytes does.
class PackedText {
public:
    PackedText() = default;
    ~PackedText();
    PackedText(const PackedText& other);
    PackedText& operator=(const PackedText& other);
    PackedText(PackedText&& other) noexcept;
    PackedText& operator=(PackedText&& other) noexcept;

    std::size_t size() const { return size_; }
    // [offset, offset + length) clipped to what the block holds.
    std::string_view view(std::size_t offset, std::size_t length) const;

    // Appends UTF-16LE text as UTF-8 and gives the length added; false, with nothing added,
    // for an odd byte count or an unpaired surrogate.
    bool appendUtf16LE(std::span<const std::uint8_t> utf16, std::size_t& added);
    // Replaces one byte with another in the text from `offset` to the end.
    void replaceFrom(std::size_t offset, char from, char to);

private:
    void reserveMore(std::size_t n);

    char* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

// Writes UTF-16LE text as UTF-8 to `out`, which has room for 3 bytes per 2 read; the bytes
// written, or `kInvalidUtf16` for an odd byte count or an unpaired surrogate.
inline constexpr std::size_t kInvalidUtf16 = static_cast<std::size_t>(-1);
std::size_t utf16LEToUtf8(std::span<const std::uint8_t> utf16, char* out);

}  // namespace media
