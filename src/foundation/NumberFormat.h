#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Number text that never follows the process locale: GTK sets LC_NUMERIC from the
// environment, after which printf-family calls would write "3,14" on some systems.
namespace foundation {

// Like "%.*f" in the C locale: rounds the exact binary value (ties to even), keeps the
// sign of negative zero, writes "nan" and "inf". Negative decimals count as 0.
std::string formatFixed(double value, int decimals);

std::string formatInteger(std::int64_t value);
std::string formatUnsigned(std::uint64_t value);

// The shortest text that reads back to the same double ("0.1", "1e+21").
std::string formatDouble(double value);

// The whole text must be a number: no blanks, no leading "+", nothing behind it;
// values out of range give nullopt.
std::optional<std::int64_t> parseInt64(std::string_view text);
std::optional<std::uint64_t> parseUInt64(std::string_view text);
// Decimal or scientific notation, "inf" and "nan" included.
std::optional<double> parseDouble(std::string_view text);

}  // namespace foundation
