#pragma once

#include <string>

namespace content {

// The calling thread's id as the console lines show it (the text of std::thread::id),
// made once per thread: responders print it for every request.
const std::string& currentThreadText();

}  // namespace content
