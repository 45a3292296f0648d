#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "foundation/Value.h"

namespace foundation::json {

enum class Style { Compact, Indented };

// Never throws. Invalid UTF-8 in strings and keys becomes U+FFFD; data is written as Base64
// text and dates as seconds since 1970, since JSON has no such kinds; NaN and infinities
// are written as null. Nil at the top writes "null", and so does a value that nests deeper
// than kMaxNestingDepth, which no reader would take back.
std::string write(const Value& value, Style style = Style::Compact);
// The same, but nullopt (and a message in *error) for a value nested too deeply.
std::optional<std::string> tryWrite(const Value& value, Style style = Style::Compact,
                                    std::string* error = nullptr);

// Never throws: nullopt (and a message in *error) when the text is not JSON or nests deeper
// than kMaxNestingDepth. Bare scalars are accepted; null gives Value::null(); negative
// integers and those that fit read as Int64, larger ones as UInt64, the rest as Double.
// Invalid UTF-8 and escaped unpaired surrogates become U+FFFD.
std::optional<Value> read(std::string_view text, std::string* error = nullptr);

}  // namespace foundation::json
