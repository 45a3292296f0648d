#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "foundation/Value.h"

namespace foundation::base64 {

// Standard alphabet with padding, on one line.
std::string encode(std::span<const std::uint8_t> bytes);
// The same, added to the end of `out`.
void appendEncoded(std::string& out, std::span<const std::uint8_t> bytes);
// The same, written to `out`, which has room for `encodedLength` characters; the end of
// what was written.
char* encodeInto(char* out, std::span<const std::uint8_t> bytes);
constexpr std::size_t encodedLength(std::size_t bytes) {
    return (bytes + 2) / 3 * 4;
}

// Strict: nullopt for characters outside the alphabet (whitespace included), a length that
// is not a multiple of four, or padding anywhere but at the end.
std::optional<Data> decode(std::string_view text);

// What decodeIgnoringWhitespace took out, for readers that keep count of lines.
struct Whitespace {
    std::size_t lineBreaks = 0;   // '\n'
    bool carriageReturn = false;  // any '\r'
};

// As `decode` once spaces, tabs and line breaks are taken out (property lists wrap their data).
// `seen`, when given, learns what was taken out of a text that decoded.
std::optional<Data> decodeIgnoringWhitespace(std::string_view text, Whitespace* seen = nullptr);

}  // namespace foundation::base64
