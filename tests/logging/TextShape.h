#pragma once

#include <string_view>

// Whether `text` has the given shape: '#' stands for one digit, '+' for one or more
// digits, '*' for one or more characters other than the one that follows it; any other
// character stands for itself. (std::regex trips GCC 12's warnings under sanitizers.)
inline bool hasShape(std::string_view text, std::string_view shape) {
    std::size_t at = 0;
    for (std::size_t i = 0; i < shape.size(); ++i) {
        const char s = shape[i];
        auto isDigit = [&](std::size_t k) {
            return k < text.size() && text[k] >= '0' && text[k] <= '9';
        };
        if (s == '#') {
            if (!isDigit(at)) return false;
            ++at;
        } else if (s == '+') {
            if (!isDigit(at)) return false;
            while (isDigit(at)) ++at;
        } else if (s == '*') {
            const char stop = i + 1 < shape.size() ? shape[i + 1] : '\0';
            const std::size_t start = at;
            while (at < text.size() && text[at] != stop) ++at;
            if (at == start) return false;
        } else {
            if (at >= text.size() || text[at] != s) return false;
            ++at;
        }
    }
    return at == text.size();
}
