#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "content/NSImage.h"
#include "device/iMobileDevice.h"
#include "foundation/Value.h"

// One node of a browsed device file tree: one path on one device and on one of its file
// services — the media area ("com.apple.afc"), the whole file system ("com.apple.afc2"),
// an application's container (its bundle identifier) or the media area reached as "/"
// (disk-folder and camera-roll nodes). A node lists its children once and keeps them, and
// keeps its dates, size and thumbnail once read.
//
// Every device access of a node runs through performOnDevice(), which selects the node's
// file service and makes the calls under the device's service lock, so requests on other
// services of the same device cannot switch it in between. Callers that reach the device
// themselves for a node's path do the same.
//
// A node holds its children strongly and its parent and device weakly: a tree lives while
// its root is held and never keeps a device alive. A node has no lock; one thread uses a
// tree at a time (the "/fetch" responder holds the device's objectLock()).
class FileSystemNode : public std::enable_shared_from_this<FileSystemNode> {
public:
    using Ptr = std::shared_ptr<FileSystemNode>;
    using DevicePtr = std::shared_ptr<iMobileDevice>;

    // Kinds of node (fsType).
    static constexpr std::int32_t kAppListType = 2;
    static constexpr std::int32_t kPathType = 3;
    // Thumbnails are looked for at most this many times less one.
    static constexpr std::uint64_t kImageAttempts = 5;

    // The hidden disk folder at the top of the media area, and its path.
    static const std::string& diskFolderName();
    static std::string diskFolderPath();

    // Roots. Nodes that are not given a folder flag ask the device, on their own service.
    static Ptr fileSystemRootNodeWithMobileDevicePath(const DevicePtr& device,
                                                      const std::string& path);
    static Ptr fileSystemRootNodeWithMobileDevice(const DevicePtr& device);
    static Ptr deviceRootNodeWithMobileDevice(const DevicePtr& device);
    // The application-list root: one folder child per application that shares files.
    static Ptr appRootNodeWithMobileDevice(const DevicePtr& device);
    static Ptr appNodeWithIdOnMobileDevicePathIsDirectory(const std::string& bundleId,
                                                         const DevicePtr& device,
                                                         const std::string& path,
                                                         bool isDirectory);
    // The path placed below the disk folder unless it already contains the disk folder
    // path; nullopt counts as empty.
    static Ptr diskRootNodeWithMobileDevicePath(const DevicePtr& device,
                                                const std::optional<std::string>& path);
    static Ptr diskRootNodeWithMobileDevice(const DevicePtr& device);
    static Ptr cameraRollNodeWithMobileDevice(const DevicePtr& device);

    // Selects the node's file service and runs `work` on the device while no other caller
    // can switch it. False (and `work` not run) when the device is gone or the service
    // cannot be made current.
    bool performOnDevice(const std::function<void(iMobileDevice&)>& work) const;
    // Makes the node's service the device's current one (nothing for single-service devices).
    void connectToDevice() const;
    // The device without any switch; empty once it is gone.
    DevicePtr rawDevice() const { return device_.lock(); }

    // The cached children, listed on first use: folders first ("." , ".." and the disk
    // folder left out), then files, each group in the device's order. An empty listing is
    // not kept, so the next call asks again.
    const std::vector<Ptr>& children();
    void refreshChildren();

    // "/" joined with the parent's full path and the name while the parent lives, else
    // with the creation path; "" once the device is gone.
    std::string fullPath() const;
    std::string displayName() const;
    void setDisplayName(std::string name) { displayName_ = std::move(name); }
    std::string displayPath() const;
    bool isDirectory() const { return isDirectory_; }
    std::int32_t fsType() const { return fsType_; }
    // The file service; nullopt for the application-list root.
    const std::optional<std::string>& rootPath() const { return rootPath_; }
    const std::optional<std::string>& entryPath() const { return entryPath_; }
    void setEntryPath(std::optional<std::string> path) { entryPath_ = std::move(path); }
    const std::string& relativePath() const { return relativePath_; }
    Ptr parent() const { return parent_.lock(); }

    // Read once from the device (or taken from the listing that made the node) and kept.
    foundation::Date modifiedDate();
    foundation::Date createdDate();
    std::uint64_t fileSize();
    // Not kept: the size as "12.50 KB" and the like.
    std::string sizeString();

    // A themed icon name: "folder" for folders, else the generic icon of the file's type.
    const std::string& icon() const { return icon_; }
    // The picture the file holds, read and decoded at most once; empty when there is none
    // (folders outside the application list, files of other types, failed decodes): the
    // caller then shows icon().
    NSImage::Image realImage();
    // The largest picture file realImage() reads.
    static constexpr std::uint64_t kMaxImageBytes = 64ull << 20;
    NSImage::Image image() const;
    // "W x H" of the held picture, or nullopt; fixed at the first call.
    std::optional<std::string> dimension();
    std::uint64_t imageVersion() const { return imageVersion_; }

    // Removes the item, a folder with everything in it; false for the application-list root.
    // A folder nested deeper than kMaxTreeDepth below it is not deleted at all (false).
    bool deleteNode();
    static constexpr std::size_t kMaxTreeDepth = 256;
    std::int32_t lastErrorCode() const;

    bool isAppNode() const;
    bool isDeviceRootNode() const;
    bool isCameraRollNode() const;
    bool isEqualTo(const FileSystemNode& other) const { return fullPath() == other.fullPath(); }

private:
    struct Token {};

public:
    FileSystemNode(Token, const DevicePtr& device, std::string path, const Ptr& parent,
                   std::optional<std::string> root, bool isDirectory);
    FileSystemNode(Token, const DevicePtr& device);

private:
    static Ptr makePathNode(const DevicePtr& device, const std::string& path, const Ptr& parent,
                            const std::optional<std::string>& root,
                            std::optional<bool> isDirectory);
    bool parentIsAppList() const;
    static bool deleteTree(iMobileDevice& device, const std::string& root);

    std::weak_ptr<iMobileDevice> device_;
    std::weak_ptr<FileSystemNode> parent_;
    std::optional<std::vector<Ptr>> children_;
    std::int32_t fsType_ = kPathType;
    bool isDirectory_ = false;
    bool fileSharingEnabled_ = false;
    bool isImageFetched_ = false;
    std::optional<std::string> rootPath_;
    std::optional<std::string> entryPath_;
    std::string fullPath_;
    std::string relativePath_;
    std::string displayName_;
    std::string icon_;
    NSImage::Image image_;
    std::optional<foundation::Date> modifiedDate_;
    std::optional<foundation::Date> createdDate_;
    std::optional<std::uint64_t> fileSize_;
    std::optional<std::optional<std::string>> dimension_;
    std::uint64_t imageVersion_ = 1;
};
