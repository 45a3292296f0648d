#pragma once

#include <libudev.h>

#include <functional>
#include <optional>
#include <string>

namespace volumes {

// Looks a block device node ("/dev/sdb1") up in udev and hands its device to `read`;
// nullopt when the node is no block device or udev does not know it. The device lives only
// for the call.
std::optional<std::string> readBlockDevice(
    const std::string& deviceNode, const std::function<std::optional<std::string>(udev_device*)>& read);

}  // namespace volumes
