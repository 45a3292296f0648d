#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace content {

// Every "//" replaced by "/", as the responders read request paths.
std::string foldDoubleSlashes(std::string_view path);
// The path up to its first "?".
std::string cutAtQuery(std::string_view path);
// The file a request path names in the pack or the served folder: double slashes folded,
// the leading "/" dropped, "" read as "index.html", percent-escapes decoded. nullopt for a
// name that is absolute after decoding, has a ".." segment or holds a NUL byte, so that it
// cannot lead out of the folder.
std::optional<std::string> servedFileName(std::string_view path);

}  // namespace content
