#pragma once

#include <cstdint>
#include <istream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "device/PhoneServiceAccess.h"
#include "device/iMobileDevice.h"
#include "fakedevice/TransferGate.h"

namespace testsupport {

// A phone whose media area is a folder of the computer. Every operation is counted under
// its method name; failures can be injected per method name ("transferChunk" counts each
// chunk of a transfer); a gate can hold transfers between chunks. Transfers behave as the
// phone's do: one at a time per device, the delegate asked shouldContinue and then told
// the progress after each chunk, 100 of 100 at the end of a successful upload, and the
// destination replaced only when the copy is whole. Paths with ".." are refused.
// The media area is the current service from the start.
class FakeMobileDevice : public iMobileDevice, public PhoneServiceAccess {
public:
    struct Identity {
        std::string name = "Fake Phone";
        std::int32_t deviceType = kDeviceTypeiPhone;
        std::uint64_t capacity = 64ull << 30;
        std::uint64_t freeCapacity = 20ull << 30;
        std::optional<std::string> serialNumber = "FAKESERIAL01";
        std::optional<std::string> phoneNumber = "";
        std::optional<std::string> modelNumber = "MN123";
        std::optional<std::string> firmwareVersion = "16.4";
        std::optional<std::string> osVersion = "16.4";
        std::optional<std::string> buildVersion = "20E247";
    };
    struct Application {
        std::string bundleId;
        std::string name;
        std::string containerRoot;  // folder of the computer standing for its container
        bool fileSharingEnabled = true;
        foundation::Data iconPng;
    };

    FakeMobileDevice(std::string mediaRoot, std::string uuid = "00008101-FAKE0000000000001");

    using iMobileDevice::downloadFileTo;
    using iMobileDevice::uploadFileFrom;

    // Set-up and inspection.
    void setIdentity(Identity identity);
    void setDeviceValue(const std::string& key, const std::string& domain, foundation::Value value);
    void addApplication(Application application);
    void setChunkSize(std::size_t bytes);
    void setTransferGate(std::shared_ptr<TransferGate> gate);
    void setLastErrorCode(std::int32_t code);
    // After `skip` successful calls of `method`, the next `times` calls fail (-1: all).
    void failOperation(const std::string& method, int skip = 0, int times = -1);
    void clearFailures();
    int callCount(const std::string& method) const;
    int totalCalls() const;
    // The counted calls' method names in the order they came, since the last reset.
    std::vector<std::string> callLog() const;
    void resetCallCounts();

    // iMobileDevice.
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
    // One listing call and, as on a phone, one "fileInfo" call per entry.
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
    std::uint64_t capacity() override;
    std::uint64_t freeCapacity() override;
    std::optional<std::string> serialNumber() override;
    std::optional<std::string> phoneNumber() override;
    std::optional<std::string> modelNumber() override;
    std::optional<std::string> firmwareVersion() override;
    std::optional<std::string> osVersion() override;
    std::optional<std::string> buildVersion() override;
    std::string uuid() const override { return uuid_; }
    foundation::Value deviceValueForKeyInDomain(const std::string& key,
                                                const std::string& domain) override;
    bool paired() override;
    bool pair() override;
    bool unpair() override;
    void resetService() override;
    std::int32_t lastErrorCode() override;
    bool respondsToConnect() const override { return true; }
    bool connect(bool keepCurrent) override;

    // PhoneServiceAccess.
    bool changeServiceFileSharingEnabled(const std::string& service,
                                         bool fileSharingEnabled) override;
    bool performOnService(const std::string& service, bool fileSharingEnabled,
                          const std::function<void()>& work) override;
    foundation::Value appBundles() override;
    std::optional<foundation::Data> getIconDataForApp(const std::string& bundleId) override;

private:
    // Counts the call; true when an injected failure applies to it.
    bool failsNow(const std::string& method);
    // The computer path for a device path on the current service; nullopt when no service
    // is current or the path leaves it.
    std::optional<std::string> local(const std::string& path) const;
    bool reportChunk(const CopyDelegate& delegate, std::int64_t done, std::int64_t total);
    // Copies the stream to the destination chunk by chunk, reporting each; the destination
    // is replaced only when the copy is whole.
    bool copyInChunks(std::istream& source, const std::string& destination, std::size_t chunk,
                      std::int64_t total, const CopyDelegate& delegate);

    const std::string mediaRoot_;
    const std::string uuid_;

    mutable std::mutex stateMutex_;  // everything below but the access lock
    Identity identity_;
    std::map<std::pair<std::string, std::string>, foundation::Value> values_;
    std::vector<Application> applications_;
    std::size_t chunkSize_ = 262144;
    std::shared_ptr<TransferGate> gate_;
    std::int32_t lastErrorCode_ = 0;
    bool paired_ = true;
    std::optional<std::string> currentRoot_;
    struct Failure {
        int skip = 0;
        int times = -1;
    };
    std::map<std::string, Failure> failures_;
    std::map<std::string, int> calls_;
    std::vector<std::string> callLog_;

    std::recursive_mutex serviceLock_;  // held across a switch and the work on it
    std::mutex accessLock_;             // one file operation or transfer at a time
};

}  // namespace testsupport
