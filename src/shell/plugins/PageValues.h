#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "foundation/Value.h"

// How page plugins read the loosely typed values a page sends: numbers and texts both
// count, as the platform's number and text readings take them.
namespace PageValues {

// Booleans; numbers, true when not zero; texts, by textBoolValue. Anything else is false.
bool boolValue(const foundation::Value& value);
// Numbers (truncated) and texts that begin with an integer; nullopt otherwise.
std::optional<std::int64_t> integerValue(const foundation::Value& value);
// Numbers and texts that hold a number; nullopt otherwise.
std::optional<double> doubleValue(const foundation::Value& value);

// A value as the platform prints it in a message: text as it is, "(null)" when absent,
// "<null>" for null, 1 or 0 for a boolean, anything else as JSON.
std::string description(const foundation::Value& value);

// What a property list can hold of a value: dictionaries and arrays rebuilt of their
// members that pass (keys kept), dates as seconds since 1970, numbers and texts as they
// are, byte buffers only when `keepData`; anything else is nil.
foundation::Value validValue(const foundation::Value& object, bool keepData);

}  // namespace PageValues
