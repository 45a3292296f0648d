#include "platform/volumes/BlockDevice.h"

#include <sys/stat.h>

#include <memory>

namespace volumes {

std::optional<std::string> readBlockDevice(
    const std::string& deviceNode, const std::function<std::optional<std::string>(udev_device*)>& read) {
    struct stat info {};
    if (::stat(deviceNode.c_str(), &info) != 0 || !S_ISBLK(info.st_mode)) return std::nullopt;
    std::unique_ptr<udev, decltype(&udev_unref)> context(udev_new(), udev_unref);
    if (!context) return std::nullopt;
    std::unique_ptr<udev_device, decltype(&udev_device_unref)> block(
        udev_device_new_from_devnum(context.get(), 'b', info.st_rdev), udev_device_unref);
    if (!block) return std::nullopt;
    return read(block.get());
}

}  // namespace volumes
