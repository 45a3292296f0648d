#include "foundation/NumberFormat.h"

#include <array>
#include <charconv>
#include <system_error>

namespace foundation {

namespace {

template <typename T>
std::string integerText(T value) {
    std::array<char, 24> buffer{};
    auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    return std::string(buffer.data(), result.ptr);
}

template <typename T>
std::optional<T> parseWhole(std::string_view text) {
    T value{};
    const char* end = text.data() + text.size();
    auto result = std::from_chars(text.data(), end, value);
    if (result.ec != std::errc() || result.ptr != end) return std::nullopt;
    return value;
}

}  // namespace

std::string formatFixed(double value, int decimals) {
    if (decimals < 0) decimals = 0;
    // Sign, up to 309 integer digits, the point and the decimals.
    std::string text(static_cast<std::size_t>(decimals) + 320, '\0');
    auto result = std::to_chars(text.data(), text.data() + text.size(), value,
                                std::chars_format::fixed, decimals);
    text.resize(result.ec == std::errc() ? static_cast<std::size_t>(result.ptr - text.data()) : 0);
    return text;
}

std::string formatInteger(std::int64_t value) {
    return integerText(value);
}

std::string formatUnsigned(std::uint64_t value) {
    return integerText(value);
}

std::string formatDouble(double value) {
    std::array<char, 32> buffer{};
    auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    return std::string(buffer.data(), result.ptr);
}

std::optional<std::int64_t> parseInt64(std::string_view text) {
    return parseWhole<std::int64_t>(text);
}

std::optional<std::uint64_t> parseUInt64(std::string_view text) {
    return parseWhole<std::uint64_t>(text);
}

std::optional<double> parseDouble(std::string_view text) {
    return parseWhole<double>(text);
}

}  // namespace foundation
