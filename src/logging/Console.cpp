#include "logging/Console.h"

#include <cstdio>
#include <string>

void ConsoleLog(std::string_view line) {
    std::string text(line);
    text.push_back('\n');
    std::fwrite(text.data(), 1, text.size(), stderr);
}
