#pragma once

#include <chrono>

// How long the application waits, once asked to quit, for copies to stop and devices to
// end their sessions: a device that does not answer does not keep the process alive.
inline constexpr std::chrono::milliseconds kTerminationLimit = std::chrono::seconds(5);

// Posts the application's will-terminate notice, then lets the work it began finish (copies
// stopping and removing what they wrote, devices ending their sessions) for at most
// `limit`, turning the main context meanwhile: a copy reports to the page through it.
// Main thread. Answers whether everything finished in time.
bool finishBeforeExit(std::chrono::milliseconds limit = kTerminationLimit);
