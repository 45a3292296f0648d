#include "platform/volumes/VolumeIdentity.h"

#include <libudev.h>
#include <sys/stat.h>

#include <memory>

#include "platform/volumes/MountTable.h"

namespace volumes {

std::optional<std::string> filesystemUuidOfDeviceNode(const std::string& deviceNode) {
    struct stat info {};
    if (::stat(deviceNode.c_str(), &info) != 0 || !S_ISBLK(info.st_mode)) return std::nullopt;
    std::unique_ptr<udev, decltype(&udev_unref)> context(udev_new(), udev_unref);
    if (!context) return std::nullopt;
    std::unique_ptr<udev_device, decltype(&udev_device_unref)> block(
        udev_device_new_from_devnum(context.get(), 'b', info.st_rdev), udev_device_unref);
    if (!block) return std::nullopt;
    const char* uuid = udev_device_get_property_value(block.get(), "ID_FS_UUID");
    if (uuid == nullptr || *uuid == '\0') return std::nullopt;
    return std::string(uuid);
}

std::optional<std::string> deviceMountedAt(const std::string& mountPath) {
    const auto table = readMountTable(kSystemMountTable);
    if (!table) return std::nullopt;
    std::optional<std::string> device;
    for (const auto& entry : *table) {
        if (entry.mountPath == mountPath) device = entry.device;  // the last mount shows
    }
    return device;
}

}  // namespace volumes
