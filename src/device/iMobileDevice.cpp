#include "device/iMobileDevice.h"

#include "device/MobileDeviceErrors.h"

iMobileDevice::~iMobileDevice() {
    std::lock_guard lock(objectLock_);
    userInfo_.clear();
}

bool iMobileDevice::uploadFileFrom(const std::string& devicePath, const std::string& computerPath) {
    return uploadFileFrom(devicePath, computerPath, copyDelegate());
}

bool iMobileDevice::downloadFileTo(const std::string& devicePath, const std::string& computerPath) {
    return downloadFileTo(devicePath, computerPath, copyDelegate());
}

std::optional<foundation::Data> iMobileDevice::contentsOfFileAtPathWithin(const std::string& path,
                                                                         std::uint64_t limit,
                                                                         bool* tooLarge) {
    if (tooLarge) *tooLarge = false;
    // One byte more than the limit tells a file that holds more from one that fits.
    auto bytes = readFileAtPathOffsetLength(path, 0, limit == UINT64_MAX ? limit : limit + 1);
    if (!bytes || bytes->size() <= limit) return bytes;
    if (tooLarge) *tooLarge = true;
    return std::nullopt;
}

void iMobileDevice::setUserInfoForKey(std::any object, const std::string& key) {
    if (key.empty()) return;
    std::lock_guard lock(objectLock_);
    if (!object.has_value()) {
        userInfo_.erase(key);
    } else {
        userInfo_[key] = std::move(object);
    }
}

std::any iMobileDevice::userInfoForKey(const std::string& key) const {
    std::lock_guard lock(objectLock_);
    const auto found = userInfo_.find(key);
    return found == userInfo_.end() ? std::any() : found->second;
}

void iMobileDevice::setCopyDelegate(CopyDelegate delegate) {
    std::lock_guard lock(delegateMutex_);
    copyDelegate_ = std::move(delegate);
}

iMobileDevice::CopyDelegate iMobileDevice::copyDelegate() const {
    std::lock_guard lock(delegateMutex_);
    return copyDelegate_;
}

std::vector<iMobileFileSystemNode> iMobileDevice::arrangeByPathType(
    std::vector<iMobileFileSystemNode> folders, std::vector<iMobileFileSystemNode> files,
    std::int32_t pathType) {
    switch (pathType) {
        case kPathTypeFolders:
            return folders;
        case kPathTypeFiles:
            return files;
        case kPathTypeFoldersThenFiles:
            folders.insert(folders.end(), std::make_move_iterator(files.begin()),
                           std::make_move_iterator(files.end()));
            return folders;
        default:
            return {};
    }
}

std::vector<iMobileDirectoryEntry> iMobileDevice::contentsOfDirectoryWithAttributes(
    const std::string& path) {
    std::vector<iMobileDirectoryEntry> entries;
    for (auto& node : contentsOfDirectoryPathType(path, kPathTypeFoldersThenFiles)) {
        if (node.name() == "." || node.name() == "..") continue;
        const std::string full = node.fullpath();
        iMobileItemAttributes attributes;
        attributes.isDirectory = node.isDirectory();
        attributes.size = node.isDirectory() ? 0 : getSizeOfItemAtPath(full);
        attributes.created = creationDateOfItemAtPath(full);
        attributes.modified = modificationDateOfItemAtPath(full);
        entries.push_back({std::move(node), attributes});
    }
    return entries;
}

std::string iMobileDevice::statusText(std::int32_t code) {
    return describeStatus(static_cast<std::uint32_t>(code));
}
