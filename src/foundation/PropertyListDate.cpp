#include "foundation/PropertyListDate.h"

#include <fmt/format.h>

#include <charconv>
#include <cmath>
#include <cstdint>

namespace foundation::plist {

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
// 0001-01-01T00:00:00Z and 10000-01-01T00:00:00Z.
constexpr double kFirstSecond = -62135596800.0;
constexpr double kPastLastSecond = 253402300800.0;

struct CivilDate {
    std::int64_t year;
    unsigned month;
    unsigned day;
};

// Days since 1970-01-01 in the proleptic Gregorian calendar (H. Hinnant's algorithms).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(y - era * 400);
    const unsigned dayOfYear = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

CivilDate civilFromDays(std::int64_t z) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto dayOfEra = static_cast<unsigned>(z - era * 146097);
    const unsigned yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned mp = (5 * dayOfYear + 2) / 153;
    const unsigned day = dayOfYear - (153 * mp + 2) / 5 + 1;
    const unsigned month = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t year = static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2);
    return {year, month, day};
}

bool isLeapYear(std::int64_t y) {
    return y % 4 == 0 && (y % 100 != 0 || y % 400 == 0);
}

unsigned daysInMonth(std::int64_t y, unsigned m) {
    static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeapYear(y) ? 29 : kDays[m - 1];
}

// Reads exactly `width` digits at text[pos].
std::optional<unsigned> digits(std::string_view text, std::size_t pos, std::size_t width) {
    if (pos + width > text.size()) return std::nullopt;
    unsigned value = 0;
    for (std::size_t i = pos; i < pos + width; ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(text[i] - '0');
    }
    return value;
}

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

// ".25" for a quarter second, nothing for none. The shortest digits that read back to the
// same double, so that reading gives back the value written.
std::string fractionDigits(double fraction) {
    if (fraction <= 0) return {};
    char buffer[400];
    const auto [end, ec] =
        std::to_chars(buffer, buffer + sizeof buffer, fraction, std::chars_format::fixed);
    if (ec != std::errc()) return {};
    std::string_view digits(buffer, static_cast<std::size_t>(end - buffer));
    if (!digits.starts_with("0.")) return {};  // cannot happen for 0 < fraction < 1
    return std::string(digits.substr(1));
}

}  // namespace

std::optional<std::string> formatXmlDate(double secondsSince1970) {
    if (!std::isfinite(secondsSince1970)) return std::nullopt;
    double whole = std::floor(secondsSince1970);
    double fraction = secondsSince1970 - whole;
    // A tiny negative value whose fraction rounds up to a whole second.
    if (fraction >= 1) {
        whole += 1;
        fraction = 0;
    }
    if (whole < kFirstSecond || whole >= kPastLastSecond) return std::nullopt;
    const auto seconds = static_cast<std::int64_t>(whole);
    std::int64_t days = seconds / kSecondsPerDay;
    std::int64_t rest = seconds % kSecondsPerDay;
    if (rest < 0) {
        rest += kSecondsPerDay;
        --days;
    }
    const CivilDate date = civilFromDays(days);
    return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}{}Z", date.year, date.month, date.day,
                       rest / 3600, rest / 60 % 60, rest % 60, fractionDigits(fraction));
}

std::optional<double> parseXmlDate(std::string_view text) {
    text = trimmed(text);
    // YYYY-MM-DDTHH:MM:SS
    const auto year = digits(text, 0, 4);
    const auto month = digits(text, 5, 2);
    const auto day = digits(text, 8, 2);
    const auto hour = digits(text, 11, 2);
    const auto minute = digits(text, 14, 2);
    const auto second = digits(text, 17, 2);
    if (!year || !month || !day || !hour || !minute || !second) return std::nullopt;
    if (text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' || text[16] != ':') {
        return std::nullopt;
    }
    if (*year < 1 || *month < 1 || *month > 12 || *day < 1 || *day > daysInMonth(*year, *month) ||
        *hour > 23 || *minute > 59 || *second > 59) {
        return std::nullopt;
    }

    double fraction = 0;
    std::size_t pos = 19;
    if (pos < text.size() && text[pos] == '.') {
        const std::size_t end = text.find_first_not_of("0123456789", pos + 1);
        if (end == pos + 1 || end == std::string_view::npos) return std::nullopt;
        const std::string number = fmt::format("0{}", text.substr(pos, end - pos));
        std::from_chars(number.data(), number.data() + number.size(), fraction);
        pos = end;
    }
    if (text.substr(pos) != "Z") return std::nullopt;

    const std::int64_t days = daysFromCivil(*year, *month, *day);
    return static_cast<double>(days * kSecondsPerDay + *hour * 3600 + *minute * 60 + *second) +
           fraction;
}

}  // namespace foundation::plist
