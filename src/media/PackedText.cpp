#include "media/PackedText.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

namespace media {

namespace {

std::uint32_t unitAt(std::span<const std::uint8_t> bytes, std::size_t i) {
    return static_cast<std::uint32_t>(bytes[i] | (bytes[i + 1] << 8));
}

char* writeUtf8(char* out, std::uint32_t code) {
    if (code < 0x80) {
        *out++ = static_cast<char>(code);
    } else if (code < 0x800) {
        *out++ = static_cast<char>(0xC0 | (code >> 6));
        *out++ = static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        *out++ = static_cast<char>(0xE0 | (code >> 12));
        *out++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (code & 0x3F));
    } else {
        *out++ = static_cast<char>(0xF0 | (code >> 18));
        *out++ = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        *out++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (code & 0x3F));
    }
    return out;
}

}  // namespace

std::size_t utf16LEToUtf8(std::span<const std::uint8_t> utf16, char* out) {
    if (utf16.size() % 2 != 0) return kInvalidUtf16;
    char* const start = out;
    const std::size_t size = utf16.size();
    std::size_t i = 0;
    while (i < size) {
        // Most database text is ASCII: four units at once while they are.
        if (size - i >= 8) {
            std::uint64_t eight;
            std::memcpy(&eight, utf16.data() + i, 8);
            if ((eight & 0xFF80FF80FF80FF80ull) == 0) {
                out[0] = static_cast<char>(utf16[i]);
                out[1] = static_cast<char>(utf16[i + 2]);
                out[2] = static_cast<char>(utf16[i + 4]);
                out[3] = static_cast<char>(utf16[i + 6]);
                out += 4;
                i += 8;
                continue;
            }
        }
        std::uint32_t unit = unitAt(utf16, i);
        i += 2;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            const std::uint32_t low = i + 1 < size ? unitAt(utf16, i) : 0;
            if (low < 0xDC00 || low > 0xDFFF) return kInvalidUtf16;
            unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            return kInvalidUtf16;
        }
        out = writeUtf8(out, unit);
    }
    return static_cast<std::size_t>(out - start);
}

PackedText::~PackedText() { std::free(data_); }

PackedText::PackedText(const PackedText& other) {
    reserveMore(other.size_);
    if (other.size_) std::memcpy(data_, other.data_, other.size_);
    size_ = other.size_;
}

PackedText& PackedText::operator=(const PackedText& other) {
    if (this != &other) *this = PackedText(other);
    return *this;
}

PackedText::PackedText(PackedText&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)) {}

PackedText& PackedText::operator=(PackedText&& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
    return *this;
}

std::string_view PackedText::view(std::size_t offset, std::size_t length) const {
    if (offset >= size_) return {};
    return std::string_view(data_ + offset, std::min(length, size_ - offset));
}

void PackedText::reserveMore(std::size_t n) {
    if (capacity_ - size_ >= n) return;
    const std::size_t wanted = std::max(size_ + n, std::max<std::size_t>(capacity_ * 2, 4096));
    void* grown = std::realloc(data_, wanted);
    if (!grown) throw std::bad_alloc();
    data_ = static_cast<char*>(grown);
    capacity_ = wanted;
}

bool PackedText::appendUtf16LE(std::span<const std::uint8_t> utf16, std::size_t& added) {
    reserveMore(utf16.size() / 2 * 3);
    const std::size_t written = utf16LEToUtf8(utf16, data_ + size_);
    if (written == kInvalidUtf16) return false;
    size_ += written;
    added = written;
    return true;
}

void PackedText::replaceFrom(std::size_t offset, char from, char to) {
    if (offset >= size_) return;
    std::replace(data_ + offset, data_ + size_, from, to);
}

}  // namespace media
