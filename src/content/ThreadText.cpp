#include "content/ThreadText.h"

#include <sstream>
#include <thread>

namespace content {

const std::string& currentThreadText() {
    thread_local const std::string text = [] {
        std::ostringstream stream;
        stream << std::this_thread::get_id();
        return stream.str();
    }();
    return text;
}

}  // namespace content
