#include "content/HttpHeaderFields.h"

#include <algorithm>

namespace content {
namespace {

bool sameName(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

}  // namespace

HttpHeaderFields::HttpHeaderFields(
    std::initializer_list<std::pair<std::string, std::string>> fields) {
    for (const auto& [name, value] : fields) set(name, value);
}

HttpHeaderFields::Fields::const_iterator HttpHeaderFields::find(std::string_view name) const {
    return std::find_if(fields_.begin(), fields_.end(),
                        [&](const auto& field) { return sameName(field.first, name); });
}

void HttpHeaderFields::set(std::string_view name, std::string value) {
    auto it = find(name);
    if (it == fields_.end()) {
        fields_.emplace_back(std::string(name), std::move(value));
    } else {
        fields_[static_cast<std::size_t>(it - fields_.begin())].second = std::move(value);
    }
}

void HttpHeaderFields::remove(std::string_view name) {
    auto it = find(name);
    if (it != fields_.end()) fields_.erase(it);
}

std::optional<std::string> HttpHeaderFields::get(std::string_view name) const {
    auto it = find(name);
    if (it == fields_.end()) return std::nullopt;
    return it->second;
}

std::string describeHeaders(const HttpHeaderFields& headers) {
    std::string text = "{";
    for (const auto& [name, value] : headers.fields()) {
        if (text.size() > 1) text += "; ";
        text += name + " = " + value;
    }
    return text + "}";
}

}  // namespace content
