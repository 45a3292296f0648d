#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "foundation/Value.h"

// Byte searches and small conversions on blocks of bytes.
namespace NSData {

// A byte range; a range that was not found has kNotFound as its location.
struct Range {
    std::uint64_t location = 0;
    std::uint64_t length = 0;
    bool operator==(const Range&) const = default;
};
inline constexpr std::uint64_t kNotFound = INT64_MAX;

// The last occurrence of the pattern, as (location, pattern length); the location is
// kNotFound when there is none, the length is still the pattern's.
Range rangeOfDataBackwardsSearch(std::span<const std::uint8_t> data,
                                 std::span<const std::uint8_t> pattern);

// The first occurrence of the pattern, reported the same way.
Range rangeOfData(std::span<const std::uint8_t> data, std::span<const std::uint8_t> pattern);

enum class StringEncoding {
    ASCII,
    UTF8,
    ISOLatin1,
    WindowsCP1252,
    MacOSRoman,
    UTF16,  // byte-order mark honoured, big-endian without one
    UTF16BigEndian,
    UTF16LittleEndian,
};

// The bytes read as text in the encoding, given back as UTF-8; nullopt when they are not
// valid in it.
std::optional<std::string> stringValueWithEncoding(std::span<const std::uint8_t> data,
                                                   StringEncoding encoding);

}  // namespace NSData

namespace NSMutableData {

// Puts the bytes in front of the target's own.
void prepend(foundation::Data& target, std::span<const std::uint8_t> bytes);

}  // namespace NSMutableData
