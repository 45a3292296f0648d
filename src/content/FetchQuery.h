#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace content {

// The parameters of a "/fetch" query: pieces split at "&", each at its first "=" into a
// name and a value, both percent-decoded; a piece without "=", or one that does not decode
// to UTF-8 text, is skipped; a later piece replaces an earlier one of the same name.
std::map<std::string, std::string, std::less<>> fetchQueryParameters(std::string_view query);

// Strict percent-decoding: nullopt for a "%" without two hex digits after it or for a
// result that is not UTF-8 text. "+" stays "+".
std::optional<std::string> strictPercentDecode(std::string_view text);

// A value decoded once more (the page encodes paths twice); the value as it is when that
// fails, so a literal "%" survives.
std::string decodedAgain(const std::string& value);

// A "Range" header's first range when it names both ends as decimal numbers ("bytes=0-99");
// open, suffix, empty and non-numeric ranges count as none.
struct ByteRange {
    std::int64_t first = 0;
    std::int64_t last = 0;
};
std::optional<ByteRange> parseRangeHeader(std::string_view header);

// The "boolean value" of a parameter: after blanks, a sign and leading zeros, "Y", "y",
// "T", "t" or a digit 1 to 9 is true.
bool parameterBool(std::string_view text);
// The leading decimal number of a parameter, 0 when there is none.
std::int64_t parameterInteger(std::string_view text);

}  // namespace content
