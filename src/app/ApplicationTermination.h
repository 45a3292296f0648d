#pragma once

#include <chrono>

// How long the application waits, once asked to quit, for copies to stop and devices to
// end their sessions: a device that does not answer does not keep the process alive.
inline constexpr std::chrono::milliseconds kTerminationLimit = std::chrono::seconds(5);

// Closes the application's quit gate (no copy or load starts from now on; those under way
// stop and remove what they wrote) and posts the will-terminate notice (devices end their
// sessions), then lets that work finish for at most `limit`, turning the main context
// meanwhile: a copy reports to the page through it. Main thread. Answers whether everything
// finished in time.
bool finishBeforeExit(std::chrono::milliseconds limit = kTerminationLimit);
