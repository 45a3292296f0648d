#include "platform/volumes/UsbSerial.h"

#include <libudev.h>
#include <sys/stat.h>

#include <memory>

namespace volumes {

std::optional<std::string> usbSerialOfDeviceNode(const std::string& deviceNode) {
    struct stat info {};
    if (::stat(deviceNode.c_str(), &info) != 0 || !S_ISBLK(info.st_mode)) return std::nullopt;
    std::unique_ptr<udev, decltype(&udev_unref)> context(udev_new(), udev_unref);
    if (!context) return std::nullopt;
    std::unique_ptr<udev_device, decltype(&udev_device_unref)> block(
        udev_device_new_from_devnum(context.get(), 'b', info.st_rdev), udev_device_unref);
    if (!block) return std::nullopt;
    // The parent belongs to the block device and is released with it.
    udev_device* usb =
        udev_device_get_parent_with_subsystem_devtype(block.get(), "usb", "usb_device");
    const char* serial = usb ? udev_device_get_sysattr_value(usb, "serial") : nullptr;
    if (serial == nullptr || *serial == '\0') return std::nullopt;
    return std::string(serial);
}

}  // namespace volumes
