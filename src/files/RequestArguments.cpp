#include "files/RequestArguments.h"

#include <charconv>
#include <limits>
#include <string_view>

using foundation::Value;

namespace RequestArguments {

namespace {

std::string_view withoutBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    return text;
}

}  // namespace

std::optional<std::int64_t> integer(const Value& value) {
    if (value.kind() != Value::Kind::String) return value.toInt64();
    std::string_view text = withoutBlanks(*value.string());
    if (text.starts_with('+')) text.remove_prefix(1);
    std::int64_t number = 0;
    const auto parsed = std::from_chars(text.data(), text.data() + text.size(), number);
    if (parsed.ec == std::errc::result_out_of_range) {
        // Too many digits for 64 bits: the nearest number that fits.
        return text.starts_with('-') ? std::numeric_limits<std::int64_t>::min()
                                     : std::numeric_limits<std::int64_t>::max();
    }
    return parsed.ec == std::errc() ? number : 0;
}

std::optional<bool> flag(const Value& value) {
    if (value.kind() != Value::Kind::String) return value.toBool();
    const std::string_view text = withoutBlanks(*value.string());
    if (!text.empty() && (text.front() == 'Y' || text.front() == 'y' || text.front() == 'T' ||
                          text.front() == 't'))
        return true;
    return integer(value).value_or(0) != 0;
}

}  // namespace RequestArguments
