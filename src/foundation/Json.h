#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "foundation/Value.h"

namespace foundation::json {

enum class Style { Compact, Indented };

// Never throws. Invalid UTF-8 in strings and keys becomes U+FFFD; data is written as Base64
// text and dates as seconds since 1970, since JSON has no such kinds; NaN and infinities
// are written as null. Nil at the top writes "null".
std::string write(const Value& value, Style style = Style::Compact);

// Never throws: nullopt (and a message in *error) when the text is not JSON or nests deeper
// than kMaxNestingDepth. Bare scalars are accepted; null gives Value::null(); negative
// integers and those that fit read as Int64, larger ones as UInt64, the rest as Double.
// Invalid UTF-8 and escaped unpaired surrogates become U+FFFD.
std::optional<Value> read(std::string_view text, std::string* error = nullptr);

}  // namespace foundation::json
