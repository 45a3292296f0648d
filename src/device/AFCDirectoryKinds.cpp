#include "device/AFCDirectoryKinds.h"

#include "device/AMDevice.h"
#include "logging/LogCall.h"

namespace md = mobiledevice;

namespace {

constexpr const char* kMediaService = "com.apple.afc";
constexpr const char* kCrashLogService = "com.apple.crashreportcopymobile";
constexpr const char* kRootService = "com.apple.afc2";

template <class Kind>
std::shared_ptr<Kind> openKind(const std::shared_ptr<AMDevice>& device, const char* service,
                               const foundation::Value& options = {}) {
    if (!device) return nullptr;
    auto afc = device->startFileService(service, options);
    if (!afc) {
        LogInfo("AFCConnectionOpen failed: {}", device->lastcode());
        return nullptr;
    }
    return std::shared_ptr<Kind>(new Kind(device, service, std::move(afc)));
}

}  // namespace

std::shared_ptr<AFCMediaDirectory> AFCMediaDirectory::create(const std::shared_ptr<AMDevice>& device) {
    if (!device) return nullptr;
    const auto options = device->interfaceType() == md::kAMDInterfaceWiFi
                             ? foundation::Value::dict({{"UnlockEscrowBag", true}})
                             : foundation::Value();
    return openKind<AFCMediaDirectory>(device, kMediaService, options);
}

std::shared_ptr<AFCCrashLogDirectory> AFCCrashLogDirectory::create(
    const std::shared_ptr<AMDevice>& device) {
    return openKind<AFCCrashLogDirectory>(device, kCrashLogService);
}

std::shared_ptr<AFCRootDirectory> AFCRootDirectory::create(const std::shared_ptr<AMDevice>& device) {
    return openKind<AFCRootDirectory>(device, kRootService);
}

std::shared_ptr<AFCApplicationDirectory> AFCApplicationDirectory::create(
    const std::shared_ptr<AMDevice>& device, const std::string& bundleId) {
    if (!device) return nullptr;
    auto afc = device->startApplicationFileService(bundleId);
    if (!afc) return nullptr;
    return std::shared_ptr<AFCApplicationDirectory>(
        new AFCApplicationDirectory(device, bundleId, std::move(afc)));
}

std::shared_ptr<AFCApplicationDirectory> AFCApplicationDirectory::create(
    const std::shared_ptr<AMDevice>& device, const std::string& bundleId, bool) {
    return create(device, bundleId);
}
