#include "shell/plugins/PageValues.h"

#include <charconv>
#include <cmath>
#include <string>
#include <system_error>

#include "shell/windows/WindowOpenOptions.h"

namespace PageValues {

bool boolValue(const foundation::Value& value) {
    if (const std::string* text = value.string()) return textBoolValue(*text);
    if (auto number = value.toDouble()) return *number != 0;
    return false;
}

std::optional<std::int64_t> integerValue(const foundation::Value& value) {
    if (value.isString()) {
        auto number = doubleValue(value);
        if (!number) return std::nullopt;
        return foundation::Value(std::trunc(*number)).toInt64();
    }
    return value.toInt64();
}

std::optional<double> doubleValue(const foundation::Value& value) {
    const std::string* text = value.string();
    if (!text) return value.toDouble();
    // Not strtod: its decimal point follows the locale GTK sets.
    const std::size_t start = text->find_first_not_of(" \t\n\r");
    if (start == std::string::npos) return std::nullopt;
    const char* first = text->data() + start + ((*text)[start] == '+' ? 1 : 0);
    double parsed = 0;
    const auto [end, error] = std::from_chars(first, text->data() + text->size(), parsed);
    if (error != std::errc() || end == first || !std::isfinite(parsed)) return std::nullopt;
    return parsed;
}

}  // namespace PageValues
