#include "platform/volumes/VolumeIdentity.h"

#include "platform/volumes/BlockDevice.h"
#include "platform/volumes/MountTable.h"

namespace volumes {

std::optional<std::string> filesystemUuidOfDeviceNode(const std::string& deviceNode) {
    return readBlockDevice(deviceNode, [](udev_device* block) -> std::optional<std::string> {
        const char* uuid = udev_device_get_property_value(block, "ID_FS_UUID");
        if (uuid == nullptr || *uuid == '\0') return std::nullopt;
        return std::string(uuid);
    });
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
