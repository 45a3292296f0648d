// AMDevice: the file services, the springboard service and the installed applications.

#include <fmt/format.h>

#include "device/AFCDirectoryKinds.h"
#include "device/AMDevice.h"
#include "device/AMSpringboardServices.h"

using foundation::Value;
namespace md = mobiledevice;

md::AFCConnectionRef AMDevice::startFileService(const std::string& name, const Value& options) {
    std::lock_guard lock(mutex_);
    md::AFCConnectionRef afc;
    if (!checkStatus(md::AFCConnectionOpenService(device_, name, options, &afc),
                     "AFCConnectionOpen", __LINE__)) {
        return nullptr;
    }
    return afc;
}

md::AFCConnectionRef AMDevice::startApplicationFileService(const std::string& bundleId) {
    std::lock_guard lock(mutex_);
    md::AFCConnectionRef afc;
    if (md::AFCConnectionOpenHouseArrest(device_, bundleId, {}, &afc) == 0) return afc;
    const Value documents = Value::dict({{"Command", "VendDocuments"}});
    if (md::AFCConnectionOpenHouseArrest(device_, bundleId, documents, &afc) == 0) return afc;
    // As the house-arrest start does: the text says why, the last status stays as it was.
    setLasterror(fmt::format("Unable to find bundle with id: {}", bundleId));
    return nullptr;
}

std::shared_ptr<AFCMediaDirectory> AMDevice::newAFCMediaDirectory() {
    return newServiceHandler<AFCMediaDirectory>();
}

std::shared_ptr<AFCCrashLogDirectory> AMDevice::newAFCCrashLogDirectory() {
    return newServiceHandler<AFCCrashLogDirectory>();
}

std::shared_ptr<AFCRootDirectory> AMDevice::newAFCRootDirectory() {
    return newServiceHandler<AFCRootDirectory>();
}

std::shared_ptr<AFCApplicationDirectory> AMDevice::newAFCApplicationDirectory(
    const std::string& bundleId) {
    return newServiceHandler<AFCApplicationDirectory>(bundleId);
}

std::shared_ptr<AMSpringboardServices> AMDevice::newAMSpringboardServices() {
    return newServiceHandler<AMSpringboardServices>();
}

std::optional<std::vector<AMApplication>> AMDevice::installedApplications() {
    const Value records = lookupApplications();
    const auto* byId = records.dictionary();
    if (!byId) return std::nullopt;
    std::vector<AMApplication> applications;
    for (const auto& [bundleId, record] : *byId) {
        if (record.isDictionary()) applications.emplace_back(record);
    }
    return applications;
}

std::optional<AMApplication> AMDevice::installedApplicationWithId(const std::string& bundleId) {
    const Value record = lookupApplications()[bundleId];
    if (!record.isDictionary()) return std::nullopt;
    return AMApplication(record);
}
