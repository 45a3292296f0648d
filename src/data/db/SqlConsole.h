#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <fmt/format.h>

// The database layer reports its failures on the console (standard error), whatever the
// program's log level: a broken query must be visible even when the log files are quiet.
namespace sqlconsole {

// Writes one line, adding the line break, in a single write so that lines of several
// threads do not interleave.
void line(std::string_view text);

template <typename... Args>
void print(fmt::format_string<Args...> format, Args&&... args) {
    line(fmt::format(format, std::forward<Args>(args)...));
}

// Text for an optional string the way the console shows a missing one.
inline std::string describe(const std::optional<std::string>& text) {
    return text ? *text : std::string("(null)");
}

}  // namespace sqlconsole
