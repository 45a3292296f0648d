#pragma once

#include <functional>
#include <optional>
#include <string>

namespace volumes {

// The serial number of the USB device behind a block device node ("/dev/sdb1"), read
// through udev from the nearest USB device above the node; nullopt when the node is not on
// a USB device or has no serial.
std::optional<std::string> usbSerialOfDeviceNode(const std::string& deviceNode);

// What a caller asks to learn a volume's USB serial; tests give their own answer.
using UsbSerialLookup = std::function<std::optional<std::string>(const std::string& deviceNode)>;

}  // namespace volumes
