#pragma once

#include <string_view>

// Writes one line to the process's console (standard error). Console lines are for
// people watching the process; they do not go to the application's log files.
void ConsoleLog(std::string_view line);
