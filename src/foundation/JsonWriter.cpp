#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "foundation/Base64.h"
#include "foundation/Json.h"
#include "foundation/Utf8.h"

namespace foundation::json {

namespace {

std::string validText(const std::string& text) {
    return utf8::isValid(text) ? text : utf8::sanitize(text);
}

nlohmann::json toJson(const Value& value) {
    switch (value.kind()) {
        case Value::Kind::Nil:
        case Value::Kind::Null:
            return nullptr;
        case Value::Kind::Boolean:
            return *value.boolean();
        case Value::Kind::Int64:
            return *value.int64();
        case Value::Kind::UInt64:
            return *value.uint64();
        case Value::Kind::Double:
            return *value.real();
        case Value::Kind::String:
            return validText(*value.string());
        case Value::Kind::Data:
            return base64::encode(*value.data());
        case Value::Kind::Date:
            return value.date()->secondsSince1970;
        case Value::Kind::Array: {
            auto out = nlohmann::json::array();
            for (const auto& item : *value.array()) {
                if (!item.isNil()) out.push_back(toJson(item));
            }
            return out;
        }
        case Value::Kind::Dictionary: {
            auto out = nlohmann::json::object();
            for (const auto& [key, item] : *value.dictionary()) {
                if (!item.isNil()) out[validText(key)] = toJson(item);
            }
            return out;
        }
    }
    return nullptr;
}

// Whether the containers nest no deeper than the reader accepts. Stops descending at the
// limit, so its own recursion is bounded too.
bool withinNestingLimit(const Value& value, std::size_t depth) {
    const bool container = value.isArray() || value.isDictionary();
    if (!container) return true;
    if (depth >= kMaxNestingDepth) return false;
    if (const Array* items = value.array()) {
        for (const auto& item : *items) {
            if (!withinNestingLimit(item, depth + 1)) return false;
        }
        return true;
    }
    for (const auto& [key, item] : *value.dictionary()) {
        if (!withinNestingLimit(item, depth + 1)) return false;
    }
    return true;
}

}  // namespace

std::optional<std::string> tryWrite(const Value& value, Style style, std::string* error) {
    if (!withinNestingLimit(value, 0)) {
        if (error) *error = fmt::format("more than {} nested containers", kMaxNestingDepth);
        return std::nullopt;
    }
    const int indent = style == Style::Indented ? 2 : -1;
    try {
        return toJson(value).dump(indent, ' ', false, nlohmann::json::error_handler_t::replace);
    } catch (const std::exception& e) {
        // Only allocation can fail here.
        if (error) *error = e.what();
        return std::nullopt;
    }
}

std::string write(const Value& value, Style style) {
    // The page gets null rather than an exception.
    return tryWrite(value, style).value_or("null");
}

}  // namespace foundation::json
