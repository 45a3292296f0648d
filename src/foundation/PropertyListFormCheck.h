#pragma once

#include <optional>
#include <string>

#include "foundation/Value.h"

namespace foundation::plist {

enum class Target {
    Binary,
    Xml,          // also needs dates within years 1 to 9999 and text without NUL
    LibplistNode  // also needs what libplist 2.2 keeps intact (see toNode)
};

// Why the value cannot be written to the target, naming the place ("at items[2].name"), or
// nullopt when it can. The writers rely on this having passed: no nil or null anywhere and
// at most kMaxNestingDepth nested containers.
std::optional<std::string> findUnwritable(const Value& value, Target target);

}  // namespace foundation::plist
