#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "foundation/Value.h"

// Text forms of bytes after RFC 4648, and binary digits.
namespace NSData {

// Base64, "+" and "/" alphabet, padded, on one line.
std::string base64String(std::span<const std::uint8_t> data);

// Base32, upper-case alphabet, padded to whole groups of 8.
std::string base32String(std::span<const std::uint8_t> data);
// nullopt for a length that is not a multiple of 8, characters outside the upper-case
// alphabet and "=", a final run of "=" other than 0, 1, 3, 4 or 6 long, or "=" before it.
std::optional<foundation::Data> dataWithBase32String(std::string_view text);

// Two upper-case hexadecimal digits per byte.
std::string base16String(std::span<const std::uint8_t> data);
// Digits of either case, two per byte; nullopt for an odd length or any other character.
std::optional<foundation::Data> dataWithBase16String(std::string_view text);

// Eight binary digits per byte, most significant first, each byte followed by a space.
std::string base2String(std::span<const std::uint8_t> data);

}  // namespace NSData
