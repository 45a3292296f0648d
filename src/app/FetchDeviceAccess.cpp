#include "app/FetchDeviceAccess.h"

#include <strings.h>

#include "device/DeviceManager.h"
#include "device/PhoneServiceAccess.h"
#include "files/FileSystemNode.h"
#include "media/MediaLoader.h"
#include "shell/Settings.h"

namespace {

// A node of the device file tree behind the responder's node interface.
class FetchTreeNode : public content::FetchNode {
public:
    explicit FetchTreeNode(FileSystemNode::Ptr node) : node_(std::move(node)) {}
    static std::shared_ptr<content::FetchNode> wrap(FileSystemNode::Ptr node) {
        return node ? std::make_shared<FetchTreeNode>(std::move(node)) : nullptr;
    }

    std::vector<std::shared_ptr<content::FetchNode>> children() override {
        std::vector<std::shared_ptr<content::FetchNode>> wrapped;
        for (const auto& child : node_->children()) wrapped.push_back(wrap(child));
        return wrapped;
    }
    void refreshChildren() override { node_->refreshChildren(); }
    std::string displayName() override { return node_->displayName(); }
    std::string fullPath() override { return node_->fullPath(); }
    bool isDirectory() override { return node_->isDirectory(); }
    std::uint64_t fileSize() override { return node_->fileSize(); }
    foundation::Date createdDate() override { return node_->createdDate(); }
    foundation::Date modifiedDate() override { return node_->modifiedDate(); }
    std::int32_t fsType() override { return node_->fsType(); }
    std::optional<std::string> rootPath() override { return node_->rootPath(); }
    std::optional<std::string> entryPath() override { return node_->entryPath(); }
    std::int32_t lastErrorCode() override { return node_->lastErrorCode(); }
    std::string iconName() override { return node_->icon(); }
    NSImage::Image realImage() override { return node_->realImage(); }

    const FileSystemNode::Ptr& node() const { return node_; }

private:
    FileSystemNode::Ptr node_;
};

constexpr char kAppsNodeKey[] = "apps_node";

NSImage::Image imageOf(const media::RgbaImage& picture) {
    if (picture.width <= 0 || picture.height <= 0 ||
        picture.pixels.size() != std::size_t(picture.width) * picture.height * 4) {
        return nullptr;
    }
    GBytes* bytes = g_bytes_new(picture.pixels.data(), picture.pixels.size());
    GdkPixbuf* pixbuf = gdk_pixbuf_new_from_bytes(bytes, GDK_COLORSPACE_RGB, TRUE, 8, picture.width,
                                                  picture.height, picture.width * 4);
    g_bytes_unref(bytes);
    return NSImage::Image(pixbuf, g_object_unref);
}

NSImage::Image artworkFor(content::FetchMediaLoader& loader, const foundation::Value& track) {
    const auto* mediaLoader = dynamic_cast<media::MediaLoader*>(&loader);
    if (!mediaLoader) return nullptr;
    const auto picture = mediaLoader->artworkForTrack(track);
    return picture ? imageOf(*picture) : nullptr;
}

}  // namespace

std::shared_ptr<content::FetchNode> FetchDeviceAccess::fileNode(const std::string& path) {
    return FetchTreeNode::wrap(FileSystemNode::fileSystemRootNodeWithMobileDevicePath(device_, path));
}

std::shared_ptr<content::FetchNode> FetchDeviceAccess::diskNode(const std::string& path) {
    return FetchTreeNode::wrap(FileSystemNode::diskRootNodeWithMobileDevicePath(device_, path));
}

std::shared_ptr<content::FetchNode> FetchDeviceAccess::appNode(const std::string& appId,
                                                               const std::string& path,
                                                               bool isDirectory) {
    return FetchTreeNode::wrap(
        FileSystemNode::appNodeWithIdOnMobileDevicePathIsDirectory(appId, device_, path, isDirectory));
}

std::shared_ptr<content::FetchNode> FetchDeviceAccess::appsRoot(bool refresh) {
    std::lock_guard lock(device_->objectLock());
    FileSystemNode::Ptr root;
    if (!refresh) {
        const std::any kept = device_->userInfoForKey(kAppsNodeKey);
        if (const auto* node = std::any_cast<FileSystemNode::Ptr>(&kept)) root = *node;
    }
    if (!root) {
        root = FileSystemNode::appRootNodeWithMobileDevice(device_);
        if (root) device_->setUserInfoForKey(root, kAppsNodeKey);
    }
    return FetchTreeNode::wrap(root);
}

std::optional<foundation::Data> FetchDeviceAccess::readFile(const std::string& path,
                                                            std::uint64_t offset,
                                                            std::uint64_t length) {
    // Media-area paths, read on the media file service like any root node's.
    const auto node = FileSystemNode::fileSystemRootNodeWithMobileDevicePath(device_, path);
    std::optional<foundation::Data> data;
    if (!node) return data;
    node->performOnDevice([&](iMobileDevice& device) {
        data = device.readFileAtPathOffsetLength(path, offset, length);
    });
    return data;
}

bool FetchDeviceAccess::isPhone() {
    return dynamic_cast<PhoneServiceAccess*>(device_.get()) != nullptr;
}

std::optional<foundation::Data> FetchDeviceAccess::iconDataForApp(const std::string& appId) {
    auto* phone = dynamic_cast<PhoneServiceAccess*>(device_.get());
    return phone ? phone->getIconDataForApp(appId) : std::nullopt;
}

content::FetchServices FetchDeviceAccess::services() {
    content::FetchServices services;
    services.findDevice = [](const std::string& udid) -> std::shared_ptr<content::FetchDevice> {
        auto& manager = DeviceManager::defaultDeviceManager();
        std::lock_guard lock(manager.lock());
        for (const auto& device : manager.devices()) {
            if (device && ::strcasecmp(device->uuid().c_str(), udid.c_str()) == 0)
                return std::make_shared<FetchDeviceAccess>(device);
        }
        return nullptr;
    };
    services.iconsCachePath = [] { return Settings::iconsCachePath(); };
    services.artworkFor = artworkFor;
    return services;
}
