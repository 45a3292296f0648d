#pragma once

#include <any>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "device/iMobileDeviceCopyDelegate.h"
#include "device/iMobileFileSystemNode.h"
#include "foundation/Value.h"
#include "shell/AppDevice.h"

// Device type codes.
inline constexpr std::int32_t kDeviceTypeiPodDiskMode = 512;
inline constexpr std::int32_t kDeviceTypeiPodTouch = 513;
inline constexpr std::int32_t kDeviceTypeiPhone = 514;
inline constexpr std::int32_t kDeviceTypeiPad = 515;
inline constexpr std::int32_t kDeviceTypeOther = -1;

// Path types of a folder listing; any other value lists nothing.
inline constexpr std::int32_t kPathTypeFolders = 256;
inline constexpr std::int32_t kPathTypeFiles = 257;
inline constexpr std::int32_t kPathTypeFoldersThenFiles = 258;

// What a folder listing tells of one entry besides its name.
struct iMobileItemAttributes {
    bool isDirectory = false;
    std::uint64_t size = 0;
    foundation::Date created;
    foundation::Date modified;
};

// One entry of a listing with its attributes.
struct iMobileDirectoryEntry {
    iMobileFileSystemNode node;
    iMobileItemAttributes attributes;
};

// A connected device as every other subsystem holds it: file operations on device paths,
// identity and lockdown values, pairing, a store for callers' objects, a service reset and
// the last error code. Failure reads as false, nullopt, 0 or an empty list; nothing throws.
// Every path argument is first made absolute with fullPath(). Safe to call from any thread.
// Implementations overriding the transfers add `using iMobileDevice::uploadFileFrom;` and
// `using iMobileDevice::downloadFileTo;` so that the two-argument forms stay visible.
class iMobileDevice : public AppDevice {
public:
    using CopyDelegate = std::shared_ptr<iMobileDeviceCopyDelegate>;

    virtual ~iMobileDevice();

    // 1-3. Size 0 when missing or unreadable; dates as the implementations describe.
    virtual std::uint64_t getSizeOfItemAtPath(const std::string& path) = 0;
    virtual foundation::Date creationDateOfItemAtPath(const std::string& path) = 0;
    virtual foundation::Date modificationDateOfItemAtPath(const std::string& path) = 0;
    // 4-6.
    virtual bool createDirectory(const std::string& path) = 0;
    // Renames within the item's folder: a new name that does not contain the old path's
    // folder is taken as a name in that folder, otherwise as the whole new path.
    virtual bool renameItemAtPathTo(const std::string& path, const std::string& newName) = 0;
    virtual bool deleteItemAtPath(const std::string& path) = 0;
    // 7-9. `isDirectory` (may be null) is set to false for a missing item.
    virtual bool itemExistsAtPathIsDirectory(const std::string& path, bool* isDirectory) = 0;
    bool itemExistsAtPath(const std::string& path) { return itemExistsAtPathIsDirectory(path, nullptr); }
    virtual bool isDirectoryAtPath(const std::string& path) = 0;
    virtual bool isLinkAtPath(const std::string& path) = 0;
    // 10. Entries with the folder's full path as parent, arranged by the path type.
    virtual std::vector<iMobileFileSystemNode> contentsOfDirectoryPathType(const std::string& path,
                                                                        std::int32_t pathType) = 0;
    // The folder's entries with their attributes, folders first, then files, each group in
    // the device's order; "." and ".." are left out. Browsing lists through this, so a
    // device that can tell an entry's kind, size and dates in one request overrides it;
    // this one asks for each separately.
    virtual std::vector<iMobileDirectoryEntry> contentsOfDirectoryWithAttributes(
        const std::string& path);
    // 11-12. Whole-file copies. The result is true only when every byte arrived: a failed
    // read or write or a stop answers false, and the destination then keeps what it held
    // before (the copy goes to a temporary name that replaces it only on success).
    // Progress goes to the delegate given, or to the one set with setCopyDelegate().
    virtual bool uploadFileFrom(const std::string& devicePath, const std::string& computerPath,
                                const CopyDelegate& delegate) = 0;
    virtual bool downloadFileTo(const std::string& devicePath, const std::string& computerPath,
                                const CopyDelegate& delegate) = 0;
    bool uploadFileFrom(const std::string& devicePath, const std::string& computerPath);
    bool downloadFileTo(const std::string& devicePath, const std::string& computerPath);
    // 13-16. nullopt when the file cannot be opened or a read fails part-way.
    virtual std::optional<foundation::Data> contentsOfFileAtPath(const std::string& path) = 0;
    // At most `length` bytes from `offset`; fewer at the end of the file.
    virtual std::optional<foundation::Data> readFileAtPathOffsetLength(const std::string& path,
                                                                       std::uint64_t offset,
                                                                       std::uint64_t length) = 0;
    // The whole file when it holds at most `limit` bytes, counted as they arrive: a device's
    // word on a file's size is not trusted. nullopt when it cannot be read or holds more
    // (`tooLarge` then says so).
    std::optional<foundation::Data> contentsOfFileAtPathWithin(const std::string& path,
                                                               std::uint64_t limit,
                                                               bool* tooLarge = nullptr);
    virtual bool appendDataToPath(const foundation::Data& data, const std::string& path) = 0;
    // Replaces the file's content, leaving no tail of a longer old content.
    virtual bool writeDataToPath(const foundation::Data& data, const std::string& path) = 0;
    // 17-19.
    virtual std::string iTunesControlPath() const = 0;
    virtual std::string fullPath(const std::string& path) const = 0;
    // 19-29 (deviceType, name, capacity, freeCapacity, serialNumber, phoneNumber, modelNumber,
    // firmwareVersion, osVersion, buildVersion, uuid) come from AppDevice. They never fail:
    // the identity values are nullopt where a kind of device has none (a disk-mode iPod's
    // phone number, model number and build version) and "" where the device gives none.
    // 30. Empty key or domain means none. Not cached.
    virtual foundation::Value deviceValueForKeyInDomain(const std::string& key,
                                                        const std::string& domain) = 0;
    // 31-33.
    virtual bool paired() = 0;
    virtual bool pair() = 0;
    virtual bool unpair() = 0;
    // 34-35. Callers' objects under string keys, guarded by objectLock(). An empty key
    // does nothing; an empty object removes the key. Emptied when the device goes.
    void setUserInfoForKey(std::any object, const std::string& key);
    std::any userInfoForKey(const std::string& key) const;
    // 36-37.
    virtual void resetService() = 0;
    // lastErrorCode() comes from AppDevice.
    std::string statusText(std::int32_t code) override;
    // 38. The delegate of transfers that are not given one; held until replaced. A
    // transfer takes the delegate when it starts, so a later change does not reach it.
    void setCopyDelegate(CopyDelegate delegate);
    CopyDelegate copyDelegate() const;
    // 39. Phone only: respondsToConnect() says whether connect() means anything.
    virtual bool respondsToConnect() const { return false; }
    virtual bool connect(bool /*keepCurrent*/) { return false; }

    // The lock on the device object itself: guards the user-info store, and callers hold it
    // while they work with objects kept there. Recursive; never the file-service lock.
    std::recursive_mutex& objectLock() const { return objectLock_; }

protected:
    // Folders and files collected apart, arranged by the path type.
    static std::vector<iMobileFileSystemNode> arrangeByPathType(
        std::vector<iMobileFileSystemNode> folders, std::vector<iMobileFileSystemNode> files,
        std::int32_t pathType);

private:
    mutable std::recursive_mutex objectLock_;
    std::map<std::string, std::any, std::less<>> userInfo_;
    mutable std::mutex delegateMutex_;
    CopyDelegate copyDelegate_;
};
