#pragma once

#include <functional>

namespace webkit {

// Runs the job on the thread of GLib's default main context (the main thread): at once
// when already there, else at the next turn of its loop.
void runOnMainContext(std::function<void()> job);

}  // namespace webkit
