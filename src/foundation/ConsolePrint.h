#pragma once

#include <fmt/format.h>

#include <cstdio>
#include <string>
#include <utility>

namespace foundation {

// A line for the console (standard error); ConsoleLog (logging/Console.h) writes a
// finished one the same way. It never throws: where the console cannot be
// written (closed, or a file on a full disk) the line is lost, not the caller's work; the
// logger reports its own full disk this way.
template <typename... Args>
void printToConsole(fmt::format_string<Args...> format, Args&&... args) noexcept {
    try {
        const std::string text = fmt::format(format, std::forward<Args>(args)...);
        std::fwrite(text.data(), 1, text.size(), stderr);
    } catch (...) {
    }
}

}  // namespace foundation
