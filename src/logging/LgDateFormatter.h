#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Writes and reads dates in a fixed pattern, always in UTC and independent of the locale.
// The pattern knows the fields yyyy, MM, dd, HH, mm, ss and SSS (milliseconds); text in
// single quotes, and any other character, stands for itself ("yyyy'-'MM" and "yyyy-MM"
// are the same pattern; a quote left open runs to the end).
class LgDateFormatter {
public:
    using Clock = std::chrono::system_clock;

    explicit LgDateFormatter(std::string_view pattern);

    std::string format(Clock::time_point moment) const;
    void appendTo(std::string& out, Clock::time_point moment) const;
    // Only text that matches the whole pattern reads as a date.
    std::optional<Clock::time_point> parse(std::string_view text) const;

private:
    enum class Field { Literal, Year, Month, Day, Hour, Minute, Second, Millisecond };
    struct Piece {
        Field field;
        std::string literal;  // for Literal
        int width = 0;        // digits, for the date fields
    };

    static std::uint64_t nextId();
    std::string formatFields(long long milliseconds) const;

    const std::uint64_t id_;
    std::vector<Piece> pieces_;
    std::vector<std::size_t> millisecondOffsets_;
};

// The date in log file names: "yyyy-MM-dd--HH-mm-ss-SSS" in UTC.
inline constexpr std::string_view kLgLogFileNameDatePattern =
    "yyyy'-'MM'-'dd'--'HH'-'mm'-'ss'-'SSS'";
