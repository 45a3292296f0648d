#pragma once

#include <string>
#include <string_view>

namespace content {

// Every "//" replaced by "/", as the responders read request paths.
std::string foldDoubleSlashes(std::string_view path);
// The path up to its first "?".
std::string cutAtQuery(std::string_view path);

}  // namespace content
