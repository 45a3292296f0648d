#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gdk/gdk.h>

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
    // The computer's photo library is not browsed through a device: always null.
    static Ptr iTunesPhotoNodeWithMobileDevice(const DevicePtr& device);

    // Selects the node's file service and runs `work` on the device while no other caller
    // can switch it. False (and `work` not run) when the device is gone or the service
    // cannot be made current.
    bool performOnDevice(const std::function<void(iMobileDevice&)>& work) const;
    // Makes the node's service the device's current one (nothing for single-service devices).
    void connectToDevice() const;
    // The device without any switch; empty once it is gone. setRawDevice() keeps a device of
    // its own that nothing reads; setDevice() changes the device the node works on.
    DevicePtr rawDevice() const { return device_.lock(); }
    void setRawDevice(const DevicePtr& device) { rawDevice_ = device; }
    void setDevice(const DevicePtr& device) { device_ = device; }

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
    // Computed from the tree; the setter keeps a text that the getter does not read.
    std::string displayPath() const;
    void setDisplayPath(std::string path) { displayPath_ = std::move(path); }
    bool isDirectory() const { return isDirectory_; }
    void setIsDirectory(bool isDirectory) { isDirectory_ = isDirectory; }
    std::int32_t fsType() const { return fsType_; }
    void setFsType(std::int32_t type) { fsType_ = type; }
    // The file service; nullopt for the application-list root.
    const std::optional<std::string>& rootPath() const { return rootPath_; }
    void setRootPath(std::optional<std::string> root) { rootPath_ = std::move(root); }
    const std::optional<std::string>& entryPath() const { return entryPath_; }
    void setEntryPath(std::optional<std::string> path) { entryPath_ = std::move(path); }
    const std::string& relativePath() const { return relativePath_; }
    void setRelativePath(std::string path) { relativePath_ = std::move(path); }
    Ptr parent() const { return parent_.lock(); }
    void setParent(const Ptr& parent) { parent_ = parent; }
    // The creation path, which fullPath() falls back on once the parent is gone.
    void setFullPath(std::string path) { fullPath_ = std::move(path); }

    // Read once from the device (or taken from the listing that made the node) and kept.
    foundation::Date modifiedDate();
    foundation::Date createdDate();
    std::uint64_t fileSize();
    // Not kept: the size as "12.50 KB" and the like. The setter keeps a text that the
    // getter does not read.
    std::string sizeString();
    void setSizeString(std::string text) { sizeString_ = std::move(text); }

    // A themed icon name: "folder" for folders, else the generic icon of the file's type.
    const std::string& icon() const { return icon_; }
    void setIcon(std::string icon) { icon_ = std::move(icon); }
    // A colour to mark the node with; none unless set.
    const std::optional<GdkRGBA>& labelColor() const { return labelColor_; }
    void setLabelColor(std::optional<GdkRGBA> color) { labelColor_ = color; }
    // The picture the file holds, read and decoded at most once; empty when there is none
    // (folders outside the application list, files of other types, failed decodes): the
    // caller then shows icon().
    NSImage::Image realImage();
    // The largest picture file realImage() reads.
    static constexpr std::uint64_t kMaxImageBytes = 64ull << 20;
    // The setter keeps a picture of its own that realImage() does not read.
    void setRealImage(NSImage::Image image) { realImage_ = std::move(image); }
    NSImage::Image image() const;
    void setImage(NSImage::Image image) { image_ = std::move(image); }
    // "W x H" of the held picture. A file that held none at the first call answers nullopt
    // for good; a folder answers what setDimension() gave.
    std::optional<std::string> dimension();
    void setDimension(std::optional<std::string> dimension) { dimension_ = std::move(dimension); }
    std::uint64_t imageVersion() const { return imageVersion_; }
    void setImageVersion(std::uint64_t version) { imageVersion_ = version; }
    // Never set here: a thumbnail is read on the caller's thread, never in the background.
    bool isFetchingImage() const { return isFetchingImage_; }

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
    std::weak_ptr<iMobileDevice> rawDevice_;
    std::weak_ptr<FileSystemNode> parent_;
    std::optional<std::vector<Ptr>> children_;
    std::int32_t fsType_ = kPathType;
    bool isDirectory_ = false;
    bool fileSharingEnabled_ = false;
    bool isImageFetched_ = false;
    bool isFetchingImage_ = false;
    std::optional<std::string> rootPath_;
    std::optional<std::string> entryPath_;
    std::string fullPath_;
    std::string relativePath_;
    std::string displayName_;
    std::string displayPath_;
    std::string sizeString_;
    std::string icon_;
    std::optional<GdkRGBA> labelColor_;
    NSImage::Image image_;
    NSImage::Image realImage_;
    std::optional<foundation::Date> modifiedDate_;
    std::optional<foundation::Date> createdDate_;
    std::optional<std::uint64_t> fileSize_;
    std::optional<std::string> dimension_;
    // Once a file is found without a picture, it has no dimension for good.
    bool hasNoDimension_ = false;
    std::uint64_t imageVersion_ = 1;
};
