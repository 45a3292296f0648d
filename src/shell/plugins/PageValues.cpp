#include "shell/plugins/PageValues.h"

#include <charconv>
#include <cmath>
#include <string>
#include <system_error>

#include "foundation/Json.h"
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

foundation::Value validValue(const foundation::Value& object, bool keepData) {
    switch (object.kind()) {
        case foundation::Value::Kind::Dictionary: {
            foundation::Value valid = foundation::Dictionary{};
            for (const auto& [key, member] : *object.dictionary())
                valid.set(key, validValue(member, keepData));
            return valid;
        }
        case foundation::Value::Kind::Array: {
            foundation::Value valid = foundation::Array{};
            for (const auto& member : *object.array()) valid.append(validValue(member, keepData));
            return valid;
        }
        case foundation::Value::Kind::Date:
            return object.date()->secondsSince1970;
        case foundation::Value::Kind::Double:
            return std::isfinite(*object.real()) ? object : foundation::Value();
        case foundation::Value::Kind::Data:
            return keepData ? object : foundation::Value();
        case foundation::Value::Kind::Boolean:
        case foundation::Value::Kind::Int64:
        case foundation::Value::Kind::UInt64:
        case foundation::Value::Kind::String:
            return object;
        default:
            return foundation::Value();
    }
}

std::string description(const foundation::Value& value) {
    if (const std::string* text = value.string()) return *text;
    if (value.isNil()) return "(null)";
    if (value.isNull()) return "<null>";
    if (const bool* flag = value.boolean()) return *flag ? "1" : "0";
    return foundation::json::write(value);
}

}  // namespace PageValues
