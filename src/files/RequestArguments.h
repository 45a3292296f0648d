#pragma once

#include <cstdint>
#include <optional>

#include "foundation/Value.h"

// Numbers and flags of the page's requests, which may come as JSON numbers or as text.
namespace RequestArguments {

// A number, or text starting with one (after blanks): "4" is 4, text without a number 0,
// more digits than 64 bits hold the largest (or smallest) number.
// nullopt when the argument is missing or of another kind.
std::optional<std::int64_t> integer(const foundation::Value& value);

// A boolean or a number (non-zero is true), or text: a number ("1", "0"), or a word
// starting with Y or T in either case. nullopt when the argument is missing or of another kind.
std::optional<bool> flag(const foundation::Value& value);

}  // namespace RequestArguments
