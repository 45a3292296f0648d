#include "foundation/JobGuard.h"
#include "foundation/ConsolePrint.h"

#include <cstdio>
#include <exception>

#include <fmt/format.h>

namespace foundation {

void runGuarded(std::string_view owner, const std::function<void()>& job) noexcept {
    try {
        job();
        return;
    } catch (const std::exception& e) {
        try {
            foundation::printToConsole("{}: job ended with an exception: {}\n", owner, e.what());
        } catch (...) {
        }
    } catch (...) {
        try {
            foundation::printToConsole("{}: job ended with an unknown exception\n", owner);
        } catch (...) {
        }
    }
}

}  // namespace foundation
