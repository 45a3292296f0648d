#include "http/NetHeaderMatching.h"

#include <algorithm>
#include <cctype>

namespace NetHeaderMatching {

namespace {

// Header names are ASCII tokens: their case is folded without the locale.
char foldCase(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool same(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return foldCase(x) == foldCase(y);
           });
}

Headers::iterator find(Headers& headers, std::string_view name) {
    return std::find_if(headers.begin(), headers.end(),
                        [&](const auto& header) { return same(header.first, name); });
}

Headers::const_iterator find(const Headers& headers, std::string_view name) {
    return std::find_if(headers.begin(), headers.end(),
                        [&](const auto& header) { return same(header.first, name); });
}

std::vector<std::string> values(const Headers& headers, std::string_view name) {
    std::vector<std::string> result;
    for (const auto& [key, value] : headers) {
        if (same(key, name)) result.push_back(value);
    }
    return result;
}

std::optional<std::string> joined(const Headers& headers, std::string_view name) {
    std::optional<std::string> result;
    for (const auto& [key, value] : headers) {
        if (!same(key, name)) continue;
        if (result) {
            *result += ", ";
            *result += value;
        } else {
            result = value;
        }
    }
    return result;
}

std::string lowered(std::string_view text) {
    std::string result(text);
    for (char& c : result) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return result;
}

}  // namespace NetHeaderMatching
