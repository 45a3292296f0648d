#pragma once

#include <chrono>
#include <functional>

namespace testsupport {

// Runs the main loop on the test (main) thread until `done` holds. The limit only keeps
// a broken test from hanging: it fails the test, it does not wait for anything.
// Returns whether `done` held.
bool runMainLoopUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::seconds(30));

// Runs every main-loop job that is ready now.
void drainMainLoop();

}  // namespace testsupport
