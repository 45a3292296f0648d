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

// Strict: nullopt for characters outside the alphabet (whitespace included), a length that
// is not a multiple of four, or padding anywhere but at the end.
std::optional<Data> decode(std::string_view text);

// As `decode` once spaces, tabs and line breaks are taken out (property lists wrap their data).
std::optional<Data> decodeIgnoringWhitespace(std::string_view text);

}  // namespace foundation::base64
