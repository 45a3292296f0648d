#include "files/FileSystemNode.h"

#include <gio/gio.h>

#include <exception>

#include <fmt/format.h>

#include "data/helpers/NSStringHelpers.h"
#include "device/PhoneServiceAccess.h"
#include "foundation/PathComponents.h"
#include "logging/LogCall.h"

using foundation::Value;

namespace {

constexpr const char* kMediaService = PhoneServiceAccess::kMediaService;
constexpr const char* kRootService = PhoneServiceAccess::kRootService;

std::string iconForFile(const std::string& name) {
    gchar* type = g_content_type_guess(name.c_str(), nullptr, 0, nullptr);
    gchar* icon = g_content_type_get_generic_icon_name(type);
    std::string result = icon ? icon : "text-x-generic";
    g_free(icon);
    g_free(type);
    return result;
}

}  // namespace

// Never destroyed, like the empty listing below: a request's job may still run at exit.
const std::string& FileSystemNode::diskFolderName() {
    static const auto* const name = new std::string(".OrvandelDisk");
    return *name;
}

std::string FileSystemNode::diskFolderPath() { return "/" + diskFolderName(); }

FileSystemNode::FileSystemNode(Token, const DevicePtr& device, std::string path, const Ptr& parent,
                               std::optional<std::string> root, bool isDirectory)
    : device_(device),
      parent_(parent),
      isDirectory_(isDirectory),
      rootPath_(std::move(root)),
      fullPath_(std::move(path)),
      relativePath_(foundation::lastPathComponent(fullPath_)),
      icon_(isDirectory ? "folder" : iconForFile(relativePath_)) {}

FileSystemNode::FileSystemNode(Token, const DevicePtr& device)
    : device_(device), fsType_(kAppListType), isDirectory_(true) {}

FileSystemNode::Ptr FileSystemNode::makePathNode(const DevicePtr& device, const std::string& path,
                                                 const Ptr& parent,
                                                 const std::optional<std::string>& root,
                                                 std::optional<bool> isDirectory) {
    auto node = std::make_shared<FileSystemNode>(Token{}, device, path, parent, root,
                                                 isDirectory.value_or(false));
    if (!isDirectory) {
        // Asked on the node's own service: another one may be current right now.
        bool folder = false;
        node->performOnDevice([&](iMobileDevice& d) { folder = d.isDirectoryAtPath(path); });
        node->isDirectory_ = folder;
        node->icon_ = folder ? "folder" : iconForFile(node->relativePath_);
    }
    return node;
}

FileSystemNode::Ptr FileSystemNode::fileSystemRootNodeWithMobileDevicePath(const DevicePtr& device,
                                                                           const std::string& path) {
    return makePathNode(device, path, nullptr, std::string(kMediaService), std::nullopt);
}

FileSystemNode::Ptr FileSystemNode::fileSystemRootNodeWithMobileDevice(const DevicePtr& device) {
    return fileSystemRootNodeWithMobileDevicePath(device, "/");
}

FileSystemNode::Ptr FileSystemNode::deviceRootNodeWithMobileDevice(const DevicePtr& device) {
    return makePathNode(device, "/", nullptr, std::string(kRootService), std::nullopt);
}

FileSystemNode::Ptr FileSystemNode::appRootNodeWithMobileDevice(const DevicePtr& device) {
    auto root = std::make_shared<FileSystemNode>(Token{}, device);
    auto* phone = dynamic_cast<PhoneServiceAccess*>(device.get());
    if (!phone) return root;
    const Value bundles = phone->appBundles();
    std::vector<Ptr> children;
    children.reserve(bundles.size());
    for (std::size_t i = 0; i < bundles.size(); ++i) {
        const Value& app = bundles[i];
        const std::string name = app["name"].stringOr();
        const std::string bundleId = app["ID"].stringOr();
        if (name.empty() || bundleId.empty() || !app["fileSharingEnabled"].toBool().value_or(false))
            continue;
        const std::string containerRoot = app["root"].stringOr();
        auto child = makePathNode(device, containerRoot, root, bundleId, true);
        child->entryPath_ = containerRoot;
        child->displayName_ = name;
        children.push_back(std::move(child));
    }
    root->children_ = std::move(children);
    return root;
}

FileSystemNode::Ptr FileSystemNode::appNodeWithIdOnMobileDevicePathIsDirectory(
    const std::string& bundleId, const DevicePtr& device, const std::string& path,
    bool isDirectory) {
    return makePathNode(device, path, nullptr, bundleId, isDirectory);
}

FileSystemNode::Ptr FileSystemNode::diskRootNodeWithMobileDevicePath(
    const DevicePtr& device, const std::optional<std::string>& path) {
    const std::string given = path.value_or("");
    const std::string disk = diskFolderPath();
    const std::string placed =
        given.find(disk) == std::string::npos
            ? (given.empty() || given == "/" ? disk : foundation::appendingPathComponent(disk, given))
            : given;
    auto node = makePathNode(device, placed, nullptr, std::string("/"), std::nullopt);
    node->entryPath_ = disk;
    return node;
}

FileSystemNode::Ptr FileSystemNode::diskRootNodeWithMobileDevice(const DevicePtr& device) {
    return diskRootNodeWithMobileDevicePath(device, std::nullopt);
}

FileSystemNode::Ptr FileSystemNode::cameraRollNodeWithMobileDevice(const DevicePtr& device) {
    return makePathNode(device, "/DCIM", nullptr, std::string("/"), std::nullopt);
}

FileSystemNode::Ptr FileSystemNode::iTunesPhotoNodeWithMobileDevice(const DevicePtr&) {
    return nullptr;
}

bool FileSystemNode::performOnDevice(const std::function<void(iMobileDevice&)>& work) const {
    const DevicePtr device = device_.lock();
    if (!device) return false;
    auto* phone = dynamic_cast<PhoneServiceAccess*>(device.get());
    if (!phone) {
        work(*device);
        return true;
    }
    // The application-list root has no service of its own: it works on the media area.
    return phone->performOnService(rootPath_.value_or(kMediaService), fileSharingEnabled_,
                                   [&] { work(*device); });
}

void FileSystemNode::connectToDevice() const {
    const DevicePtr device = device_.lock();
    if (auto* phone = dynamic_cast<PhoneServiceAccess*>(device.get()))
        phone->changeServiceFileSharingEnabled(rootPath_.value_or(kMediaService), fileSharingEnabled_);
}

const std::vector<FileSystemNode::Ptr>& FileSystemNode::children() {
    static const auto* const none = new std::vector<Ptr>;
    if (children_) return *children_;
    std::vector<iMobileDirectoryEntry> entries;
    const std::string path = fullPath();
    performOnDevice([&](iMobileDevice& d) { entries = d.contentsOfDirectoryWithAttributes(path); });
    if (entries.empty()) return *none;

    const DevicePtr device = device_.lock();
    const Ptr self = shared_from_this();
    std::vector<Ptr> children;
    children.reserve(entries.size());
    for (const auto& [entry, attributes] : entries) {
        const std::string& name = entry.name();
        if (entry.isDirectory() && (name == "." || name == ".." || name == diskFolderName()))
            continue;
        auto child = makePathNode(device, entry.fullpath(), self, rootPath_, entry.isDirectory());
        child->fileSize_ = attributes.size;
        child->createdDate_ = attributes.created;
        child->modifiedDate_ = attributes.modified;
        children.push_back(std::move(child));
    }
    children_ = std::move(children);
    return *children_;
}

void FileSystemNode::refreshChildren() { children_.reset(); }

std::string FileSystemNode::fullPath() const {
    if (device_.expired()) return "";
    std::string path = fullPath_;
    if (const Ptr parent = parent_.lock())
        path = foundation::appendingPathComponent(parent->fullPath(), relativePath_);
    return foundation::appendingPathComponent("/", path);
}

std::string FileSystemNode::displayName() const {
    return displayName_.empty() ? relativePath_ : displayName_;
}

std::string FileSystemNode::displayPath() const {
    if (!isAppNode()) return fullPath();
    const Ptr parent = parent_.lock();
    if (!parent) return "";
    if (!parent->rootPath_) return foundation::appendingPathComponent("/", displayName_);
    return foundation::appendingPathComponent(parent->displayPath(), relativePath_);
}

foundation::Date FileSystemNode::modifiedDate() {
    if (!modifiedDate_) {
        const std::string path = fullPath();
        foundation::Date date;
        performOnDevice([&](iMobileDevice& d) { date = d.modificationDateOfItemAtPath(path); });
        modifiedDate_ = date;
    }
    return *modifiedDate_;
}

foundation::Date FileSystemNode::createdDate() {
    if (!createdDate_) {
        const std::string path = fullPath();
        foundation::Date date;
        performOnDevice([&](iMobileDevice& d) { date = d.creationDateOfItemAtPath(path); });
        createdDate_ = date;
    }
    return *createdDate_;
}

std::uint64_t FileSystemNode::fileSize() {
    if (!fileSize_) {
        const std::string path = fullPath();
        std::uint64_t size = 0;
        performOnDevice([&](iMobileDevice& d) { size = d.getSizeOfItemAtPath(path); });
        fileSize_ = size;
    }
    return *fileSize_;
}

std::string FileSystemNode::sizeString() {
    const std::string path = fullPath();
    std::uint64_t size = 0;
    performOnDevice([&](iMobileDevice& d) { size = d.getSizeOfItemAtPath(path); });
    return NSString::CapacityString(size);
}

bool FileSystemNode::parentIsAppList() const {
    const Ptr parent = parent_.lock();
    return parent && parent->fsType_ == kAppListType;
}

NSImage::Image FileSystemNode::realImage() {
    if (isDirectory_ && !parentIsAppList()) return nullptr;
    if (image_) return image_;
    if (imageVersion_ >= kImageAttempts) return nullptr;
    ++imageVersion_;
    std::string path = fullPath();
    if (parentIsAppList() && path == "/") path = foundation::appendingPathComponent(path, "iTunesArtwork");
    if (!NSImage::SupportFileAtPath(path) || isImageFetched_) return nullptr;
    isImageFetched_ = true;
    const bool isPNG = NSImage::IsPNGFileAtPath(path);
    std::optional<foundation::Data> bytes;
    performOnDevice([&](iMobileDevice& d) { bytes = d.contentsOfFileAtPathWithin(path, kMaxImageBytes); });
    if (!bytes) return nullptr;
    try {
        NSImage::Image decoded = NSImage::safeImageWithDataIsPNG(*bytes, isPNG);
        if (decoded && gdk_pixbuf_get_width(decoded.get()) > 0 &&
            gdk_pixbuf_get_height(decoded.get()) > 0)
            image_ = std::move(decoded);
    } catch (const std::exception& exception) {
        LogInfo("Failed to decode image data: {}", exception.what());
    }
    return image_;
}

NSImage::Image FileSystemNode::image() const {
    if (isDirectory_ && !parentIsAppList()) return nullptr;
    return image_;
}

std::optional<std::string> FileSystemNode::dimension() {
    if (isDirectory_) return dimension_;
    if (hasNoDimension_) return std::nullopt;
    if (image_) {
        dimension_ = fmt::format("{} x {}", gdk_pixbuf_get_width(image_.get()),
                                 gdk_pixbuf_get_height(image_.get()));
    } else {
        hasNoDimension_ = true;
    }
    return dimension_;
}

bool FileSystemNode::deleteNode() {
    if (fsType_ != kPathType) return false;
    bool deleted = false;
    const std::string path = fullPath();
    // One service hold for the whole tree, so no other request switches it half-way.
    performOnDevice([&](iMobileDevice& d) {
        deleted = isDirectory_ ? deleteTree(d, path) : d.deleteItemAtPath(path);
    });
    return deleted;
}

bool FileSystemNode::deleteTree(iMobileDevice& device, const std::string& root) {
    // The whole tree is listed first, one folder at a time and no deeper than a device
    // keeps real folders, so that a device listing folders without end gets an answer
    // and nothing is taken away from it.
    struct Folder {
        std::string path;
        std::size_t depth;
    };
    std::vector<Folder> unlisted{{root, 0}};
    std::vector<std::string> doomed;  // each item after the folder that holds it
    doomed.push_back(root);
    while (!unlisted.empty()) {
        const Folder folder = std::move(unlisted.back());
        unlisted.pop_back();
        if (folder.depth >= kMaxTreeDepth) {
            LogError("Folders nested too deeply to delete at {}", folder.path);
            return false;
        }
        for (const auto& [entry, attributes] : device.contentsOfDirectoryWithAttributes(folder.path)) {
            if (entry.isDirectory() && entry.name() == diskFolderName()) continue;
            doomed.push_back(entry.fullpath());
            if (entry.isDirectory()) unlisted.push_back({doomed.back(), folder.depth + 1});
        }
    }
    bool deleted = true;
    for (auto item = doomed.rbegin(); item != doomed.rend(); ++item) {
        deleted = device.deleteItemAtPath(*item) && deleted;
    }
    return deleted;
}

std::int32_t FileSystemNode::lastErrorCode() const {
    const DevicePtr device = device_.lock();
    return dynamic_cast<PhoneServiceAccess*>(device.get()) ? device->lastErrorCode() : 0;
}

bool FileSystemNode::isAppNode() const {
    return !rootPath_ || (*rootPath_ != "/" && *rootPath_ != kMediaService && *rootPath_ != kRootService);
}

bool FileSystemNode::isDeviceRootNode() const { return rootPath_ == std::string(kRootService); }

bool FileSystemNode::isCameraRollNode() const {
    return fullPath().find("/DCIM") != std::string::npos;
}
