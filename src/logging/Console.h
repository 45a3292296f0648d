#pragma once

#include <initializer_list>
#include <string_view>

// Writes one line to the process's console (standard error), as
// foundation::printToConsole does. Console lines are for people watching the process; they
// do not go to the application's log files.
void ConsoleLog(std::string_view line);

// Writes the lines in one write, each line the pieces one after the other: nothing is
// copied to join them, and lines of requests served at once never interleave.
void ConsoleLines(std::initializer_list<std::initializer_list<std::string_view>> lines);
