#pragma once

#include <cstdio>
#include <optional>
#include <string>

namespace testsupport {

// The standard output of a shell command, or nullopt when it cannot run or fails.
inline std::optional<std::string> commandOutput(const std::string& command) {
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return std::nullopt;
    std::string out;
    char buffer[4096];
    while (std::size_t got = fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, got);
    return pclose(pipe) == 0 ? std::optional(out) : std::nullopt;
}

}  // namespace testsupport
