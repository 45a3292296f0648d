#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "foundation/Value.h"

namespace foundation {

// Replaces the file at `path` so that readers, and the disk after a crash, see either the
// old contents or all of the new ones: the bytes go to a temporary file in the same
// folder, are flushed, and the temporary is renamed over the target. A replaced file
// keeps its permission bits; a new one is private to the user (0600). A symbolic link is
// kept: the file it leads to is replaced. On failure the temporary is removed, the old
// file is untouched, and false comes back with a reason; once true comes back the new
// contents are in place.
bool writeFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes,
                         std::string* error = nullptr);

// A new hidden file (".<name>.XXXXXX", private to the user) beside `path` holding the
// bytes, flushed and closed: the first step of a replacement that the caller puts in place
// itself. Its path, or nullopt with a reason and nothing left behind.
std::optional<std::string> writeTemporaryBeside(const std::string& path,
                                                std::span<const std::uint8_t> bytes,
                                                std::string* error = nullptr);

// Makes a rename into the folder that holds `path` durable, where the file system can.
void syncFolderOf(const std::string& path);

// The whole contents of a regular file; nullopt with a reason otherwise.
std::optional<Data> readFile(const std::string& path, std::string* error = nullptr);

}  // namespace foundation
