#include "data/helpers/NSDataBaseConversion.h"

#include "foundation/Base64.h"

namespace NSData {
namespace {

constexpr char kBase32Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
constexpr char kHexDigits[] = "0123456789ABCDEF";

int base32Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= '2' && c <= '7') return c - '2' + 26;
    return -1;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string base64String(std::span<const std::uint8_t> data) {
    return foundation::base64::encode(data);
}

std::string base32String(std::span<const std::uint8_t> data) {
    std::string out;
    out.reserve((data.size() + 4) / 5 * 8);
    for (std::size_t at = 0; at < data.size(); at += 5) {
        const std::size_t count = std::min<std::size_t>(5, data.size() - at);
        std::uint64_t group = 0;
        for (std::size_t i = 0; i < 5; ++i) group = group << 8 | (i < count ? data[at + i] : 0);
        // 1..5 bytes fill 2, 4, 5, 7 or 8 characters; the rest of the group is padding.
        static constexpr std::size_t kCharacters[] = {0, 2, 4, 5, 7, 8};
        for (std::size_t i = 0; i < 8; ++i) {
            out += i < kCharacters[count] ? kBase32Alphabet[(group >> (35 - 5 * i)) & 31] : '=';
        }
    }
    return out;
}

std::optional<foundation::Data> dataWithBase32String(std::string_view text) {
    if (text.size() % 8 != 0) return std::nullopt;
    const std::size_t firstPad = std::min(text.find('='), text.size());
    const std::size_t padding = text.size() - firstPad;
    if (padding != 0 && padding != 1 && padding != 3 && padding != 4 && padding != 6) {
        return std::nullopt;
    }
    foundation::Data out;
    out.reserve(text.size() / 8 * 5);
    for (std::size_t at = 0; at < text.size(); at += 8) {
        std::uint64_t group = 0;
        std::size_t characters = 0;
        for (std::size_t i = 0; i < 8; ++i) {
            const char c = text[at + i];
            if (c == '=') {
                if (at + i < firstPad) return std::nullopt;
                group <<= 5;
                continue;
            }
            const int value = base32Value(c);
            if (value < 0) return std::nullopt;  // also a letter after padding began
            group = group << 5 | static_cast<std::uint64_t>(value);
            ++characters;
        }
        if (at + 8 > firstPad && at + characters != firstPad) return std::nullopt;
        // 8 characters carry 5 bytes; 7, 5, 4 or 2 carry 4, 3, 2 or 1.
        static constexpr std::size_t kBytes[] = {0, 0, 1, 0, 2, 3, 0, 4, 5};
        for (std::size_t i = 0; i < kBytes[characters]; ++i) {
            out.push_back(static_cast<std::uint8_t>(group >> (32 - 8 * i)));
        }
    }
    return out;
}

std::string base16String(std::span<const std::uint8_t> data) {
    std::string out;
    out.reserve(data.size() * 2);
    for (auto b : data) {
        out += kHexDigits[b >> 4];
        out += kHexDigits[b & 15];
    }
    return out;
}

std::optional<foundation::Data> dataWithBase16String(std::string_view text) {
    if (text.size() % 2 != 0) return std::nullopt;
    foundation::Data out;
    out.reserve(text.size() / 2);
    for (std::size_t at = 0; at < text.size(); at += 2) {
        const int high = hexValue(text[at]);
        const int low = hexValue(text[at + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        out.push_back(static_cast<std::uint8_t>(high << 4 | low));
    }
    return out;
}

std::string base2String(std::span<const std::uint8_t> data) {
    std::string out;
    out.reserve(data.size() * 9);
    for (auto b : data) {
        for (int bit = 7; bit >= 0; --bit) out += (b >> bit) & 1 ? '1' : '0';
        out += ' ';
    }
    return out;
}

}  // namespace NSData
