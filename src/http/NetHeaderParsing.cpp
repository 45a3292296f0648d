#include "http/NetHeaderParsing.h"

#include <unicode/ucnv.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <ctime>
#include <vector>

namespace {

std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

std::string lower(std::string_view text) {
    std::string result(text);
    for (char& c : result) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return result;
}

std::vector<std::string_view> splitOn(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (;;) {
        auto at = text.find(separator, start);
        parts.push_back(text.substr(start, at - start));
        if (at == std::string_view::npos) break;
        start = at + 1;
    }
    return parts;
}

// Exactly `digits` decimal digits: no sign, no blanks.
bool number(std::string_view text, std::size_t digits, int& out) {
    if (text.size() != digits || !std::all_of(text.begin(), text.end(), [](char c) {
            return c >= '0' && c <= '9';
        })) {
        return false;
    }
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size();
}

// Zone offsets in seconds east of Greenwich for the names a date may end with.
std::optional<int> zoneOffset(std::string_view zone) {
    struct Named {
        std::string_view name;
        int hours;
    };
    static constexpr std::array<Named, 11> names = {{{"GMT", 0},
                                                     {"UTC", 0},
                                                     {"UT", 0},
                                                     {"Z", 0},
                                                     {"EST", -5},
                                                     {"EDT", -4},
                                                     {"CST", -6},
                                                     {"CDT", -5},
                                                     {"MST", -7},
                                                     {"MDT", -6},
                                                     {"PST", -8}}};
    for (const auto& named : names) {
        if (zone == named.name) return named.hours * 3600;
    }
    if (zone == "PDT") return -7 * 3600;
    // "+0100", "-08:00", "GMT+01:00"
    if (zone.starts_with("GMT") || zone.starts_with("UTC")) zone.remove_prefix(3);
    if (zone.size() < 3 || (zone[0] != '+' && zone[0] != '-')) return std::nullopt;
    int sign = zone[0] == '-' ? -1 : 1;
    std::string digits;
    for (char c : zone.substr(1)) {
        if (c == ':') continue;
        if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
        digits += c;
    }
    int hours = 0, minutes = 0;
    if (digits.size() == 4) {
        number(std::string_view(digits).substr(0, 2), 2, hours);
        number(std::string_view(digits).substr(2), 2, minutes);
    } else if (digits.size() <= 2 && !digits.empty()) {
        hours = std::stoi(digits);
    } else {
        return std::nullopt;
    }
    if (hours > 14 || minutes > 59) return std::nullopt;
    return sign * (hours * 3600 + minutes * 60);
}

}  // namespace

namespace NetHeaderParsing {

std::optional<double> dateFromRFC1123String(std::string_view text) {
    static constexpr std::array<std::string_view, 12> months = {
        "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    static constexpr std::array<std::string_view, 7> weekdays = {"Sun", "Mon", "Tue", "Wed",
                                                                 "Thu", "Fri", "Sat"};
    bool withWeekday = text.find(',') != std::string_view::npos;
    if (withWeekday) {
        auto comma = text.find(',');
        if (std::find(weekdays.begin(), weekdays.end(), text.substr(0, comma)) == weekdays.end() ||
            comma + 1 >= text.size() || text[comma + 1] != ' ') {
            return std::nullopt;
        }
        text.remove_prefix(comma + 2);
    }
    auto fields = splitOn(text, ' ');
    if (fields.size() != 5) return std::nullopt;
    std::tm parts{};
    int day = 0, year = 0, hour = 0, minute = 0, second = 0;
    if (!number(fields[0], 2, day) || !number(fields[2], 4, year)) return std::nullopt;
    auto month = std::find(months.begin(), months.end(), fields[1]);
    if (month == months.end()) return std::nullopt;
    // Seconds are there when the clock field has them; a zone such as "GMT+01:00" has
    // colons of its own.
    auto clock = splitOn(fields[3], ':');
    const bool withSeconds = clock.size() == 3;
    if ((clock.size() != 2 && !withSeconds) || !number(clock[0], 2, hour) ||
        !number(clock[1], 2, minute) || (withSeconds && !number(clock[2], 2, second))) {
        return std::nullopt;
    }
    auto offset = zoneOffset(fields[4]);
    if (!offset || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
        return std::nullopt;
    parts.tm_year = year - 1900;
    parts.tm_mon = static_cast<int>(month - months.begin());
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    time_t seconds = timegm(&parts);
    if (parts.tm_mday != day) return std::nullopt;
    return static_cast<double>(seconds - *offset);
}

std::optional<double> expiryDateForResponseHeaders(const foundation::Dictionary& headers,
                                                   double maxAge, double now) {
    if (maxAge != 0) return now + maxAge;
    auto header = [&](std::string_view name) -> std::optional<std::string> {
        for (const auto& [key, value] : headers) {
            if (auto text = value.string(); text && lower(key) == lower(name)) return *text;
        }
        return std::nullopt;
    };
    if (auto cacheControl = header("Cache-Control")) {
        std::string text = lower(*cacheControl);
        auto at = text.find("max-age");
        if (at != std::string::npos) {
            std::string_view rest = std::string_view(text).substr(at + 7);
            rest = trimBlanks(rest);
            if (rest.starts_with('=')) rest = trimBlanks(rest.substr(1));
            double seconds = 0;
            std::size_t digits = 0;
            while (digits < rest.size() && std::isdigit(static_cast<unsigned char>(rest[digits])))
                ++digits;
            std::from_chars(rest.data(), rest.data() + digits, seconds);
            if (seconds != 0) return now + seconds;
        }
    }
    if (auto expires = header("Expires")) return dateFromRFC1123String(*expires);
    return std::nullopt;
}

void parseMimeType(std::string* mimeType, std::string* encoding,
                   const std::optional<std::string>& contentType) {
    if (!contentType) return;
    std::string_view text = *contentType;
    auto semicolon = text.find(';');
    if (semicolon == std::string_view::npos || semicolon == 0) {
        if (mimeType != nullptr) *mimeType = std::string(trimBlanks(text));
        return;
    }
    if (mimeType != nullptr) *mimeType = std::string(trimBlanks(text.substr(0, semicolon)));
    std::string rest = lower(text.substr(semicolon + 1));
    auto at = rest.find("charset=");
    if (at == std::string::npos) return;
    // The value keeps its own letter case.
    std::string_view value = text.substr(semicolon + 1 + at + 8);
    value = value.substr(0, value.find(';'));
    value = trimBlanks(value);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        value = value.substr(1, value.size() - 2);
    }
    if (value.empty()) return;
    // Known to the IANA registry (as a name or an alias); reported by its preferred MIME
    // name where it has one.
    std::string name(value);
    UErrorCode status = U_ZERO_ERROR;
    const char* internal = ucnv_getCanonicalName(name.c_str(), "IANA", &status);
    if (U_FAILURE(status) || internal == nullptr || *internal == '\0') {
        status = U_ZERO_ERROR;
        internal = ucnv_getCanonicalName(name.c_str(), "MIME", &status);
    }
    if (U_FAILURE(status) || internal == nullptr || *internal == '\0') return;
    status = U_ZERO_ERROR;
    const char* canonical = ucnv_getStandardName(internal, "MIME", &status);
    if (U_FAILURE(status) || canonical == nullptr) {
        status = U_ZERO_ERROR;
        canonical = ucnv_getStandardName(internal, "IANA", &status);
    }
    if (U_FAILURE(status) || canonical == nullptr) return;
    if (encoding != nullptr) *encoding = canonical;
}

}  // namespace NetHeaderParsing
