#pragma once

#include <functional>
#include <string_view>

namespace foundation {

// Runs a queued job; an exception escaping it is written to stderr, naming `owner`, and
// goes no further, so that the queue serving the job keeps working.
void runGuarded(std::string_view owner, const std::function<void()>& job) noexcept;

}  // namespace foundation
