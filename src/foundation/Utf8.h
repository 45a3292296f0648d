#pragma once

#include <string>
#include <string_view>

namespace foundation::utf8 {

// Whether the text is well-formed UTF-8 (no overlongs, surrogates or values past U+10FFFF).
bool isValid(std::string_view text);

// The text with each maximal invalid subsequence replaced by U+FFFD.
std::string sanitize(std::string_view text);

// Appends the UTF-8 form of a code point; surrogates and values past U+10FFFF give U+FFFD.
void append(std::string& out, char32_t codePoint);

// Conversions for formats that store UTF-16. Unpaired surrogates become U+FFFD, and so does
// invalid UTF-8.
std::string fromUtf16(std::u16string_view text);
std::u16string toUtf16(std::string_view text);

}  // namespace foundation::utf8
