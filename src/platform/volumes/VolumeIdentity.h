#pragma once

#include <optional>
#include <string>

namespace volumes {

// The file-system UUID of a block device node ("/dev/sdb1"), as udev reads it from the
// volume itself; nullopt when the node is no block device or its file system has none.
std::optional<std::string> filesystemUuidOfDeviceNode(const std::string& deviceNode);

// The block device (or source) mounted at a path, the last mount there showing; nullopt
// when nothing is mounted exactly there.
std::optional<std::string> deviceMountedAt(const std::string& mountPath);

}  // namespace volumes
