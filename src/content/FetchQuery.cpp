#include "content/FetchQuery.h"

#include <charconv>
#include <limits>

#include "foundation/Utf8.h"

namespace content {
namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<std::int64_t> wholeNumber(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    if (text.empty()) return std::nullopt;
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 0) return std::nullopt;
    return value;
}

}  // namespace

std::optional<std::string> strictPercentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        const int high = hexDigit(text[i + 1]);
        const int low = hexDigit(text[i + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        out.push_back(static_cast<char>(high * 16 + low));
        i += 2;
    }
    if (!foundation::utf8::isValid(out)) return std::nullopt;
    return out;
}

std::map<std::string, std::string, std::less<>> fetchQueryParameters(std::string_view query) {
    std::map<std::string, std::string, std::less<>> parameters;
    while (true) {
        const std::size_t amp = query.find('&');
        const std::string_view piece = query.substr(0, amp);
        const std::size_t equals = piece.find('=');
        if (equals != std::string_view::npos) {
            auto name = strictPercentDecode(piece.substr(0, equals));
            // "a=b=c" gives a the last part, "c".
            auto value = strictPercentDecode(piece.substr(piece.rfind('=') + 1));
            if (name && value) parameters[*name] = std::move(*value);
        }
        if (amp == std::string_view::npos) break;
        query.remove_prefix(amp + 1);
    }
    return parameters;
}

std::string decodedAgain(const std::string& value) {
    auto decoded = strictPercentDecode(value);
    return decoded ? std::move(*decoded) : value;
}

std::optional<ByteRange> parseRangeHeader(std::string_view header) {
    std::string text(header);
    for (std::size_t at; (at = text.find("bytes=")) != std::string::npos;) text.erase(at, 6);
    const std::string_view first = std::string_view(text).substr(0, text.find(','));
    const std::size_t dash = first.find('-');
    if (dash == std::string_view::npos || first.find('-', dash + 1) != std::string_view::npos)
        return std::nullopt;
    const auto from = wholeNumber(first.substr(0, dash));
    const auto to = wholeNumber(first.substr(dash + 1));
    if (!from || !to) return std::nullopt;
    return ByteRange{*from, *to};
}

bool parameterBool(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    while (i < text.size() && text[i] == '0') ++i;
    if (i >= text.size()) return false;
    const char c = text[i];
    return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

std::int64_t parameterInteger(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    std::size_t end = 0;
    if (end < text.size() && (text[end] == '-' || text[end] == '+')) ++end;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
    std::string_view digits = text.substr(0, end);
    if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
    std::int64_t value = 0;
    const auto [ptr, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error == std::errc::result_out_of_range)
        return digits.starts_with('-') ? std::numeric_limits<std::int64_t>::min()
                                       : std::numeric_limits<std::int64_t>::max();
    (void)ptr;
    return error == std::errc() ? value : 0;
}

}  // namespace content
