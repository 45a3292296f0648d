#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "device/iMobileDevice.h"
#include "media/ByteCursor.h"

// An older iPod mounted as a disk. Every file operation acts on the mounted volume and
// never leaves it: paths are taken apart into components, a climb above the volume's top
// or a link that leads outside it is refused (the operation fails), and only whole leading
// components count as "already under the mount path". Identity comes from the USB serial
// of the device behind the volume and the iPod preferences file; the name from the iPod's
// library databases. Copies report progress but cannot be stopped.
class iPodDevice : public iMobileDevice {
public:
    // What the device learns of its volume at creation: the USB serial number behind the
    // mount path, nullopt when there is none. Tests answer for themselves.
    using SerialLookup = std::function<std::optional<std::string>(const std::string& mountPath)>;

    // The serial through the system's mount table and udev.
    static SerialLookup systemSerialLookup();
    // A volume without a USB serial is known by its file system's UUID, found the same way;
    // nullopt when it has none (then by its mount path).
    using VolumeIdLookup = SerialLookup;
    static VolumeIdLookup systemVolumeIdLookup();

    explicit iPodDevice(const std::string& mountPath,
                        const SerialLookup& serialLookup = systemSerialLookup(),
                        const VolumeIdLookup& volumeIdLookup = systemVolumeIdLookup());

    const std::string& mountPath() const { return mountPath_; }

    // The master playlist's title in a binary database; nullopt when it has none.
    static std::optional<std::string> getNameFromDB(const std::string& path);
    // The pieces of that reading: the master's title in a playlist list, and a title's text.
    static std::optional<std::string> readMHLP(media::ByteCursor& set);
    static std::optional<std::string> readMHODStringLength(media::ByteCursor& cursor,
                                                           std::uint32_t length);

    std::uint64_t getSizeOfItemAtPath(const std::string& path) override;
    foundation::Date creationDateOfItemAtPath(const std::string& path) override;
    foundation::Date modificationDateOfItemAtPath(const std::string& path) override;
    bool createDirectory(const std::string& path) override;
    bool renameItemAtPathTo(const std::string& path, const std::string& newName) override;
    bool deleteItemAtPath(const std::string& path) override;
    bool itemExistsAtPathIsDirectory(const std::string& path, bool* isDirectory) override;
    bool isDirectoryAtPath(const std::string& path) override;
    bool isLinkAtPath(const std::string& path) override;
    std::vector<iMobileFileSystemNode> contentsOfDirectoryPathType(const std::string& path,
                                                                std::int32_t pathType) override;
    using iMobileDevice::downloadFileTo;
    using iMobileDevice::uploadFileFrom;
    bool uploadFileFrom(const std::string& devicePath, const std::string& computerPath,
                        const CopyDelegate& delegate) override;
    bool downloadFileTo(const std::string& devicePath, const std::string& computerPath,
                        const CopyDelegate& delegate) override;
    std::optional<foundation::Data> contentsOfFileAtPath(const std::string& path) override;
    std::optional<foundation::Data> readFileAtPathOffsetLength(const std::string& path,
                                                               std::uint64_t offset,
                                                               std::uint64_t length) override;
    bool appendDataToPath(const foundation::Data& data, const std::string& path) override;
    bool writeDataToPath(const foundation::Data& data, const std::string& path) override;
    std::string iTunesControlPath() const override { return "iPod_Control"; }
    // The path inside the volume, or "" when the path leads outside it.
    std::string fullPath(const std::string& path) const override;
    std::int32_t deviceType() override { return kDeviceTypeiPodDiskMode; }
    std::string name() override;
    std::uint64_t capacity() override;
    std::uint64_t freeCapacity() override;
    std::optional<std::string> serialNumber() override { return serialNumber_; }
    std::optional<std::string> phoneNumber() override { return std::nullopt; }
    std::optional<std::string> modelNumber() override { return std::nullopt; }
    std::optional<std::string> firmwareVersion() override { return osVersion_; }
    std::optional<std::string> osVersion() override { return osVersion_; }
    std::optional<std::string> buildVersion() override { return std::nullopt; }
    std::string uuid() const override { return uuid_.value_or(""); }
    foundation::Value deviceValueForKeyInDomain(const std::string& key,
                                                const std::string& domain) override;
    bool paired() override { return true; }
    bool pair() override { return true; }
    bool unpair() override { return true; }
    void resetService() override {}
    std::int32_t lastErrorCode() override { return 0; }

    std::int64_t familyId() const { return familyId_; }
    // 1 to 4 by the family id; 0 for families not known.
    int PodType() const;

    // The library's name: the main container of Library.itdb, else the master playlist of
    // the binary database; "iPod" or "Unknown iPod" when those give none.
    std::string getDeviceName() const;

private:
    void GetPodInfo(const SerialLookup& serialLookup);
    // The identifier of a volume without a USB serial.
    std::string volumeIdentifier(const VolumeIdLookup& volumeIdLookup) const;
    // The main container's name in a Library.itdb; nullopt when it gives none.
    static std::optional<std::string> nameFromLibrary(const std::string& library);
    // The path inside the volume; nullopt when it leads outside. With `followLast` false a
    // link at the end is taken as itself (for operations on the link).
    std::optional<std::string> confined(const std::string& path, bool followLast = true) const;
    bool copyFromTo(const std::string& source, const std::string& destination,
                    const CopyDelegate& delegate);

    std::string mountPath_;
    std::optional<std::string> uuid_;
    std::optional<std::string> serialNumber_;
    std::optional<std::string> osVersion_;
    std::int64_t familyId_ = 0;
    std::mutex nameMutex_;
    std::optional<std::string> deviceName_;
};
