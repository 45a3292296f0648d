#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "content/FetchMediaLoader.h"
#include "content/NSImage.h"
#include "foundation/Value.h"

namespace content {

// A node of a device's file tree as "/fetch" lists and reads it; the device layers above
// this one supply it.
class FetchNode {
public:
    virtual ~FetchNode() = default;
    virtual std::vector<std::shared_ptr<FetchNode>> children() = 0;
    virtual void refreshChildren() = 0;
    virtual std::string displayName() = 0;
    virtual std::string fullPath() = 0;
    virtual bool isDirectory() = 0;
    virtual std::uint64_t fileSize() = 0;
    virtual foundation::Date createdDate() = 0;
    virtual foundation::Date modifiedDate() = 0;
    virtual std::int32_t fsType() = 0;
    virtual std::optional<std::string> rootPath() = 0;
    virtual std::optional<std::string> entryPath() = 0;
    virtual std::int32_t lastErrorCode() = 0;
    // A themed icon name for the node.
    virtual std::string iconName() = 0;
    // The picture the file holds; empty when there is none.
    virtual NSImage::Image realImage() = 0;
};

// A connected device as "/fetch" reaches it.
class FetchDevice {
public:
    virtual ~FetchDevice() = default;
    // The lock on the device object; actions on one device hold it while they work.
    virtual std::recursive_mutex& objectLock() = 0;
    // Nodes: null when there is none. The apps root is kept with the device and made anew
    // when there is none yet or `refresh` is set.
    virtual std::shared_ptr<FetchNode> fileNode(const std::string& path) = 0;
    virtual std::shared_ptr<FetchNode> diskNode(const std::string& path) = 0;
    virtual std::shared_ptr<FetchNode> appNode(const std::string& appId, const std::string& path,
                                               bool isDirectory) = 0;
    virtual std::shared_ptr<FetchNode> appsRoot(bool refresh) = 0;
    virtual void resetService() = 0;
    // At most `length` bytes of a media-area file from `offset`; nullopt when it cannot be read.
    virtual std::optional<foundation::Data> readFile(const std::string& path,
                                                     std::uint64_t offset,
                                                     std::uint64_t length) = 0;
    // Only phones give application icons.
    virtual bool isPhone() = 0;
    virtual std::optional<foundation::Data> iconDataForApp(const std::string& appId) = 0;
};

// What the process entry gives the "/fetch" responder of the layers above it. Empty members
// stand for layers that are not there: no device is found, no artwork.
struct FetchServices {
    // The connected device whose identifier equals `udid` ignoring case.
    std::function<std::shared_ptr<FetchDevice>(const std::string& udid)> findDevice;
    // The folder of the application-icon cache.
    std::function<std::string()> iconsCachePath;
    // The artwork of a track record of the loader.
    std::function<NSImage::Image(FetchMediaLoader&, const foundation::Value& track)> artworkFor;
};

}  // namespace content
