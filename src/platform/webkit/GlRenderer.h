#pragma once

#include <string>

namespace webkit {

// The name of the GL renderer the machine's EGL gives a context without a window (the way
// the browser engine paints off screen); empty when none can be made.
std::string glRendererName();

}  // namespace webkit
