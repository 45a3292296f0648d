#include "platform/volumes/UsbSerial.h"

#include "platform/volumes/BlockDevice.h"

namespace volumes {

std::optional<std::string> usbSerialOfDeviceNode(const std::string& deviceNode) {
    return readBlockDevice(deviceNode, [](udev_device* block) -> std::optional<std::string> {
        // The parent belongs to the block device and is released with it.
        udev_device* usb = udev_device_get_parent_with_subsystem_devtype(block, "usb", "usb_device");
        const char* serial = usb ? udev_device_get_sysattr_value(usb, "serial") : nullptr;
        if (serial == nullptr || *serial == '\0') return std::nullopt;
        return std::string(serial);
    });
}

}  // namespace volumes
