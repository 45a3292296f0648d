#pragma once

#include <ostream>

#include "foundation/Json.h"
#include "foundation/Value.h"

namespace foundation {

// GoogleTest shows values as their JSON text instead of their bytes.
inline void PrintTo(const Value& value, std::ostream* out) {
    if (value.isNil()) {
        *out << "nil";
        return;
    }
    try {
        *out << json::write(value);
    } catch (const std::exception& e) {
        *out << "(not JSON: " << e.what() << ")";
    }
}

}  // namespace foundation
