#include "logging/LgDateFormatter.h"

#include <atomic>
#include <ctime>

LgDateFormatter::LgDateFormatter(std::string_view pattern) : id_(nextId()) {
    static constexpr std::pair<std::string_view, Field> kFields[] = {
        {"yyyy", Field::Year}, {"SSS", Field::Millisecond}, {"MM", Field::Month},
        {"dd", Field::Day},    {"HH", Field::Hour},         {"mm", Field::Minute},
        {"ss", Field::Second},
    };
    auto addLiteral = [this](char c) {
        if (pieces_.empty() || pieces_.back().field != Field::Literal) {
            pieces_.push_back({Field::Literal, {}, 0});
        }
        pieces_.back().literal.push_back(c);
    };
    bool quoted = false;
    for (std::size_t i = 0; i < pattern.size();) {
        if (pattern[i] == '\'') {
            quoted = !quoted;
            ++i;
            continue;
        }
        bool matched = false;
        if (!quoted) {
            for (const auto& [token, field] : kFields) {
                if (pattern.substr(i, token.size()) == token) {
                    pieces_.push_back({field, {}, static_cast<int>(token.size())});
                    i += token.size();
                    matched = true;
                    break;
                }
            }
        }
        if (!matched) addLiteral(pattern[i++]);
    }
    // Where the millisecond digits stand, for the fields' fixed widths.
    std::size_t at = 0;
    for (const auto& piece : pieces_) {
        if (piece.field == Field::Millisecond) millisecondOffsets_.push_back(at);
        at += piece.field == Field::Literal ? piece.literal.size() : piece.width;
    }
}

std::uint64_t LgDateFormatter::nextId() {
    static std::atomic<std::uint64_t> counter{0};
    return ++counter;
}

namespace {

struct CivilTime {
    long long year;
    int month, day, hour, minute, second, millisecond;
};

// Proleptic Gregorian calendar from days since 1970-01-01 (pure arithmetic: this runs
// for every log line, and gmtime_r with {fmt} cost more than the write itself).
CivilTime civilFromMilliseconds(long long ms) {
    long long days = ms / 86400000;
    long long inDay = ms % 86400000;
    if (inDay < 0) {
        inDay += 86400000;
        --days;
    }
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const long long dayOfEra = days - era * 146097;
    const long long yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long long monthIndex = (5 * dayOfYear + 2) / 153;
    CivilTime civil{};
    civil.day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    civil.month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    civil.year = yearOfEra + era * 400 + (civil.month <= 2 ? 1 : 0);
    civil.hour = static_cast<int>(inDay / 3600000);
    civil.minute = static_cast<int>(inDay / 60000 % 60);
    civil.second = static_cast<int>(inDay / 1000 % 60);
    civil.millisecond = static_cast<int>(inDay % 1000);
    return civil;
}

// Writes `value` with at least `width` digits at `at`; returns the end.
char* putDigits(char* at, long long value, int width) {
    if (value < 0) {
        *at++ = '-';
        value = -value;
    }
    char digits[20];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value > 0 && count < 20);
    for (int pad = count; pad < width; ++pad) *at++ = '0';
    while (count > 0) *at++ = digits[--count];
    return at;
}

}  // namespace

std::string LgDateFormatter::format(Clock::time_point moment) const {
    std::string out;
    appendTo(out, moment);
    return out;
}

void LgDateFormatter::appendTo(std::string& out, Clock::time_point moment) const {
    const auto ms =
        std::chrono::floor<std::chrono::milliseconds>(moment.time_since_epoch()).count();
    // Log lines come many to a second: the text of the last second is kept per thread and
    // only its millisecond digits are written anew.
    struct LastSecond {
        std::uint64_t formatter = 0;
        long long second = 0;
        std::string text;
        std::vector<std::size_t> millisecondsAt;
    };
    thread_local LastSecond last;
    const long long second = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
    // Years 1970 to 9999 have four digits, so every field has its fixed width.
    constexpr long long kYear10000 = 253402300800;
    const bool cacheable = second >= 0 && second < kYear10000;
    if (!(cacheable && last.formatter == id_ && last.second == second)) {
        last.text = formatFields(ms);
        last.formatter = cacheable ? id_ : 0;
        last.second = second;
        last.millisecondsAt = millisecondOffsets_;
    }
    const std::size_t start = out.size();
    out += last.text;
    const int millisecond = static_cast<int>(ms - second * 1000);
    for (const auto at : last.millisecondsAt) {
        out[start + at] = static_cast<char>('0' + millisecond / 100);
        out[start + at + 1] = static_cast<char>('0' + millisecond / 10 % 10);
        out[start + at + 2] = static_cast<char>('0' + millisecond % 10);
    }
}

std::string LgDateFormatter::formatFields(long long ms) const {
    const CivilTime civil = civilFromMilliseconds(ms);
    std::string out;
    char buffer[32];
    char* at = buffer;
    for (const auto& piece : pieces_) {
        if (at - buffer > 8) {  // room for the widest field
            out.append(buffer, at);
            at = buffer;
        }
        switch (piece.field) {
            case Field::Literal:
                out.append(buffer, at);
                at = buffer;
                out += piece.literal;
                break;
            case Field::Year:
                at = putDigits(at, civil.year, 4);
                break;
            case Field::Month:
                at = putDigits(at, civil.month, 2);
                break;
            case Field::Day:
                at = putDigits(at, civil.day, 2);
                break;
            case Field::Hour:
                at = putDigits(at, civil.hour, 2);
                break;
            case Field::Minute:
                at = putDigits(at, civil.minute, 2);
                break;
            case Field::Second:
                at = putDigits(at, civil.second, 2);
                break;
            case Field::Millisecond:
                at = putDigits(at, civil.millisecond, 3);
                break;
        }
    }
    out.append(buffer, at);
    return out;
}

std::optional<LgDateFormatter::Clock::time_point> LgDateFormatter::parse(
    std::string_view text) const {
    std::tm parts{};
    parts.tm_mday = 1;
    int millis = 0;
    std::size_t at = 0;
    for (const auto& piece : pieces_) {
        if (piece.field == Field::Literal) {
            if (text.substr(at, piece.literal.size()) != piece.literal) return std::nullopt;
            at += piece.literal.size();
            continue;
        }
        if (at + piece.width > text.size()) return std::nullopt;
        int value = 0;
        for (int i = 0; i < piece.width; ++i) {
            const char c = text[at + i];
            if (c < '0' || c > '9') return std::nullopt;
            value = value * 10 + (c - '0');
        }
        at += piece.width;
        switch (piece.field) {
            case Field::Year:
                parts.tm_year = value - 1900;
                break;
            case Field::Month:
                if (value < 1 || value > 12) return std::nullopt;
                parts.tm_mon = value - 1;
                break;
            case Field::Day:
                if (value < 1 || value > 31) return std::nullopt;
                parts.tm_mday = value;
                break;
            case Field::Hour:
                if (value > 23) return std::nullopt;
                parts.tm_hour = value;
                break;
            case Field::Minute:
                if (value > 59) return std::nullopt;
                parts.tm_min = value;
                break;
            case Field::Second:
                if (value > 60) return std::nullopt;
                parts.tm_sec = value;
                break;
            case Field::Millisecond:
                millis = value;
                break;
            case Field::Literal:
                break;
        }
    }
    if (at != text.size()) return std::nullopt;
    const std::time_t seconds = timegm(&parts);
    return Clock::from_time_t(seconds) + std::chrono::milliseconds(millis);
}
