#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "device/PhoneServiceAccess.h"
#include "device/iMobileDevice.h"
#include "foundation/Value.h"

class AFCApplicationDirectory;
class AFCDirectoryAccess;
class AFCFileReference;
class AFCMediaDirectory;
class AMDevice;

// An iPhone, iPad or iPod touch reached through the mobile-device service. File operations
// go to the current file service (the media area or one application's container) under
// the device's non-recursive access lock, which a transfer holds from open to close.
// Lockdown values are read once (in one session) and cached; empty answers are not.
class iPhoneDevice : public iMobileDevice, public PhoneServiceAccess {
public:
    // Bytes per file-service call in transfers and whole-file reads.
    static constexpr std::size_t kChunkSize = 262144;

    iPhoneDevice();
    ~iPhoneDevice() override;

    // Sets the device up: tests for the whole-file-system service, reads the lockdown
    // values and opens the media connection that the first connect(false) makes current,
    // all in one lockdown session. The second argument is not used. Always true.
    bool createWithDeviceEnableAfc2(const std::shared_ptr<AMDevice>& device, bool enableAfc2);
    bool isEqualToDevice(const std::shared_ptr<AMDevice>& device) const;
    std::shared_ptr<AMDevice> phoneDevice() const { return phoneDevice_; }
    bool isJailbreak() const { return isJailbreak_; }

    using iMobileDevice::downloadFileTo;
    using iMobileDevice::uploadFileFrom;

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
    // One directory read and one file-information request per entry.
    std::vector<iMobileDirectoryEntry> contentsOfDirectoryWithAttributes(
        const std::string& path) override;
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
    std::string iTunesControlPath() const override { return "iTunes_Control"; }
    std::string fullPath(const std::string& path) const override;
    std::int32_t deviceType() override;
    std::string name() override;
    // From what is kept: the media file service's information (read when a media
    // connection opens), else the disk-usage values read at set-up, else 0 (unknown).
    // Never asks the device, so never waits for it or for a transfer.
    std::uint64_t capacity() override;
    std::uint64_t freeCapacity() override;
    std::optional<std::string> serialNumber() override;
    std::optional<std::string> phoneNumber() override;
    std::optional<std::string> modelNumber() override;
    std::optional<std::string> firmwareVersion() override;
    std::optional<std::string> osVersion() override;
    std::optional<std::string> buildVersion() override;
    std::string uuid() const override;
    foundation::Value deviceValueForKeyInDomain(const std::string& key,
                                                const std::string& domain) override;
    // Whether the phone has given its values (a phone that does not trust this computer
    // yet gives none), and a fresh read of them; the read answers the same.
    bool hasAttributes();
    bool reloadAttributes();
    bool paired() override;
    bool pair() override;
    bool unpair() override;
    void resetService() override;
    std::int32_t lastErrorCode() override;
    bool respondsToConnect() const override { return true; }
    // false opens a fresh media connection and makes it current; true changes nothing.
    // Answers whether a service is current.
    bool connect(bool keepCurrent) override;

    bool changeServiceFileSharingEnabled(const std::string& service,
                                         bool fileSharingEnabled) override;
    bool performOnService(const std::string& service, bool fileSharingEnabled,
                          const std::function<void()>& work) override;
    foundation::Value appBundles() override;
    std::optional<foundation::Data> getIconDataForApp(const std::string& bundleId) override;

    // The PNG of a springboard reply's "pngData": some devices wrap it in a binary
    // property list of its own, which is opened; nullopt when there is none.
    static std::optional<foundation::Data> iconDataFromReply(const foundation::Value& reply);

    // The lockdown value of a key, cached once read; "" when the device gives none.
    foundation::Value attributeForKey(const std::string& key);
    // The cached value only ("" when not cached): what the identity values answer, so that
    // describing a device never asks it.
    foundation::Value cachedAttribute(const std::string& key) const;
    // File information of a path on the current service; nil when missing.
    foundation::Value itemInfoAtPath(const std::string& path);
    // The media file service's file-system information, as kept when a media connection
    // opened; empty before.
    foundation::Value getDeviceInfo();
    std::shared_ptr<AFCDirectoryAccess> currentService();
    // The current service is only referred to: the media connection or an application
    // connection kept below owns it.
    void setCurrentService(const std::shared_ptr<AFCDirectoryAccess>& service);
    std::shared_ptr<AFCMediaDirectory> afcService();
    void setAfcService(const std::shared_ptr<AFCMediaDirectory>& service);
    using AppServices = std::map<std::string, std::shared_ptr<AFCApplicationDirectory>>;
    AppServices appServices();
    void setAppServices(AppServices services);

    // Kept from an older connection interface: both answer true and change nothing.
    bool ResetConnection() { return true; }
    bool tryStartServiceTryTimes(const std::string& /*service*/, int /*times*/) { return true; }
    // {"ReturnAttributes": the 16 application attributes of the shorter lookup}.
    foundation::Value defaultReturnAttributes() const;

private:
    // Asks the delegate whether to go on, then tells it the progress.
    static bool finishOf(const CopyDelegate& delegate, std::int64_t done, std::int64_t total);
    void loadAttributes();
    // The current service, or null; the caller then holds what it needs of it.
    std::shared_ptr<AFCDirectoryAccess> serviceForCall();
    // Runs `call` with the current service under the access lock; `failed` without one.
    template <class Result, class Call>
    Result locked(Result failed, Call&& call);
    std::optional<std::uint64_t> diskUsage(const char* key) const;
    // Keeps the file-system information of a fresh media connection, once.
    void keepDeviceInfoOf(AFCDirectoryAccess& media);
    // A media connection not used before: the one opened at set-up, else a new one. The
    // caller holds serviceLock_.
    std::shared_ptr<AFCMediaDirectory> newMediaService();

    std::shared_ptr<AMDevice> phoneDevice_;
    bool isAFC2Mode_ = false;
    bool isJailbreak_ = false;
    // Every file-service call, and a whole transfer or read from open to close.
    std::mutex accessLock_;
    // Held across a service switch and the calls made on that service.
    std::recursive_mutex serviceLock_;
    // The lockdown cache, the file-service information and the application list.
    mutable std::mutex cacheLock_;
    foundation::Value attributes_;
    foundation::Value deviceInfo_;
    foundation::Value diskUsage_;
    foundation::Value bundles_;
    // Guarded by serviceLock_. The current service is owned by one of the other two.
    std::weak_ptr<AFCDirectoryAccess> currentService_;
    std::shared_ptr<AFCMediaDirectory> afcService_;
    // Opened at set-up in the set-up's session, for the first media connection asked for.
    std::shared_ptr<AFCMediaDirectory> spareMedia_;
    AppServices appServices_;
};
