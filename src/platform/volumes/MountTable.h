#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace volumes {

// One line of a mount table: what is mounted where.
struct MountEntry {
    std::string device;     // "/dev/sdb1", or what the file system names as its source
    std::string mountPath;  // the folder the volume is mounted on
    std::string fsType;
};

// Reads a mount table in the form of /proc/self/mounts (fields separated by blanks, blanks
// and backslashes inside a field written as octal escapes). Lines with fewer than three
// fields are skipped; nullopt when the file cannot be read.
std::optional<std::vector<MountEntry>> readMountTable(const std::string& path);
std::vector<MountEntry> parseMountTable(std::string_view text);

// The table the running system keeps.
inline constexpr const char* kSystemMountTable = "/proc/self/mounts";

}  // namespace volumes
