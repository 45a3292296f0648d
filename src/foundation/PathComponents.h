#pragma once

#include <string>
#include <string_view>

namespace foundation {

// Slash-separated path texts handled the way device paths are: no tilde expansion, no
// look at any file system. "/" stays "/"; trailing slashes are not part of a component.

// `path` joined with `component` by exactly one "/". An empty path gives the component.
std::string appendingPathComponent(std::string_view path, std::string_view component);
// Everything before the last component: "/a/b" -> "/a", "/a" -> "/", "a" -> "".
std::string deletingLastPathComponent(std::string_view path);
// The last component: "/a/b/" -> "b", "/" -> "/", "" -> "".
std::string lastPathComponent(std::string_view path);

}  // namespace foundation
