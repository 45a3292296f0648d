#include "foundation/Error.h"

#include <fmt/format.h>

namespace foundation {

std::string Error::description() const {
    return fmt::format("{} {}: {}", domain, code, message);
}

NamedException::NamedException(std::string name, std::string reason)
    : std::runtime_error(name + ": " + reason),
      name_(std::move(name)),
      reason_(std::move(reason)) {}

}  // namespace foundation
