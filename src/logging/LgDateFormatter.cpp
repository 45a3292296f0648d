#include "logging/LgDateFormatter.h"

#include <ctime>

#include <fmt/format.h>

LgDateFormatter::LgDateFormatter(std::string_view pattern) {
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
}

std::string LgDateFormatter::format(Clock::time_point moment) const {
    using namespace std::chrono;
    const auto since = moment.time_since_epoch();
    auto seconds = duration_cast<std::chrono::seconds>(since);
    auto millis = duration_cast<milliseconds>(since - seconds).count();
    if (millis < 0) {  // before 1970: borrow a second so the milliseconds stay positive
        millis += 1000;
        seconds -= std::chrono::seconds(1);
    }
    const std::time_t t = static_cast<std::time_t>(seconds.count());
    std::tm parts{};
    gmtime_r(&t, &parts);
    std::string out;
    out.reserve(32);
    for (const auto& piece : pieces_) {
        switch (piece.field) {
            case Field::Literal:
                out += piece.literal;
                break;
            case Field::Year:
                fmt::format_to(std::back_inserter(out), "{:04}", parts.tm_year + 1900);
                break;
            case Field::Month:
                fmt::format_to(std::back_inserter(out), "{:02}", parts.tm_mon + 1);
                break;
            case Field::Day:
                fmt::format_to(std::back_inserter(out), "{:02}", parts.tm_mday);
                break;
            case Field::Hour:
                fmt::format_to(std::back_inserter(out), "{:02}", parts.tm_hour);
                break;
            case Field::Minute:
                fmt::format_to(std::back_inserter(out), "{:02}", parts.tm_min);
                break;
            case Field::Second:
                fmt::format_to(std::back_inserter(out), "{:02}", parts.tm_sec);
                break;
            case Field::Millisecond:
                fmt::format_to(std::back_inserter(out), "{:03}", millis);
                break;
        }
    }
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
