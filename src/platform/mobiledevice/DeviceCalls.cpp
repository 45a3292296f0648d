// Connection, pairing, sessions and values of one device, over its lockdown service.

#include <usbmuxd.h>

#include "platform/mobiledevice/AMDeviceHandle.h"
#include "platform/mobiledevice/MobileDevice.h"
#include "platform/mobiledevice/PairRecord.h"
#include "platform/mobiledevice/StatusMapping.h"

namespace mobiledevice {

namespace {

void closeLockdown(AMDeviceHandle& handle) {
    if (handle.lockdown && !handle.sessionId.empty()) {
        handle.lockdown->stopSession(handle.sessionId);
    }
    handle.sessionId.clear();
    handle.lockdown.reset();
    if (handle.device) idevice_free(handle.device);
    handle.device = nullptr;
}

// Pairing needs certificates made and stored, which the library's lockdown client does: it
// runs on a lockdown connection of its own, as it needs no session.
template <class Call>
AMDStatus withLibraryClient(const AMDeviceHandle& handle, Call call) {
    lockdownd_client_t client = nullptr;
    lockdownd_error_t error = lockdownd_client_new(handle.device, &client, kLockdownLabel);
    if (error == LOCKDOWN_E_SUCCESS) error = call(client);
    if (client) lockdownd_client_free(client);
    return error == LOCKDOWN_E_MUX_ERROR ? kAMDMuxConnectError : statusFromLockdown(error);
}

}  // namespace

AMDeviceHandle::~AMDeviceHandle() {
    closeLockdown(*this);
}

idevice_t openDevice(const AMDeviceHandle& handle) {
    idevice_t device = nullptr;
    const auto lookup =
        handle.interfaceType == kAMDInterfaceWiFi ? IDEVICE_LOOKUP_NETWORK : IDEVICE_LOOKUP_USBMUX;
    if (idevice_new_with_options(&device, handle.udid.c_str(), lookup) != IDEVICE_E_SUCCESS) {
        return nullptr;
    }
    return device;
}

AMDStatus AMDeviceConnect(const AMDeviceRef& handle) {
    if (!handle) return kAMDInvalidArgumentError;
    std::lock_guard lock(handle->mutex);
    if (handle->lockdown) return kAMDSuccess;
    handle->device = openDevice(*handle);
    if (!handle->device) return kAMDDeviceDisconnectedError;
    AMDStatus status = LockdownClient::open(handle->device, &handle->lockdown, handle->limits);
    if (status == kAMDSuccess) {
        std::string type;
        status = handle->lockdown->queryType(&type);
        if (status == kAMDSuccess && type != "com.apple.mobile.lockdown") {
            status = kAMDInvalidResponseError;
        }
    }
    if (status != kAMDSuccess) closeLockdown(*handle);
    return status;
}

AMDStatus AMDeviceDisconnect(const AMDeviceRef& handle) {
    if (!handle) return kAMDInvalidArgumentError;
    std::lock_guard lock(handle->mutex);
    closeLockdown(*handle);
    return kAMDSuccess;
}

AMDStatus AMDeviceValidatePairing(const AMDeviceRef& handle) {
    if (!handle) return kAMDInvalidArgumentError;
    std::lock_guard lock(handle->mutex);
    if (!handle->lockdown) return kAMDNotConnectedError;
    const foundation::Value record = readPairRecord(handle->udid);
    if (record["HostID"].stringOr().empty()) return kAMDInvalidHostIDError;
    return handle->lockdown->validatePair(record);
}

AMDStatus AMDevicePair(const AMDeviceRef& handle) {
    if (!handle) return kAMDInvalidArgumentError;
    std::lock_guard lock(handle->mutex);
    if (!handle->lockdown) return kAMDNotConnectedError;
    return withLibraryClient(
        *handle, [](lockdownd_client_t client) { return lockdownd_pair(client, nullptr); });
}

AMDStatus AMDeviceUnpair(const AMDeviceRef& handle) {
    if (!handle) return kAMDInvalidArgumentError;
    std::lock_guard lock(handle->mutex);
    if (!handle->lockdown) return kAMDNotConnectedError;
    if (pairRecordHostId(handle->udid).empty()) return kAMDInvalidHostIDError;
    AMDStatus status = withLibraryClient(
        *handle, [](lockdownd_client_t client) { return lockdownd_unpair(client, nullptr); });
    if (status == kAMDSuccess) usbmuxd_delete_pair_record(handle->udid.c_str());
    return status;
}

int AMDeviceIsPaired(const AMDeviceRef& handle) {
    if (!handle) return 0;
    return pairRecordHostId(handle->udid).empty() ? 0 : 1;
}

AMDStatus AMDeviceStartSession(const AMDeviceRef& handle) {
    if (!handle) return kAMDInvalidArgumentError;
    std::lock_guard lock(handle->mutex);
    if (!handle->lockdown) return kAMDNotConnectedError;
    if (!handle->sessionId.empty()) return kAMDSessionActiveError;
    const foundation::Value record = readPairRecord(handle->udid);
    if (record["HostID"].stringOr().empty()) return kAMDInvalidHostIDError;
    std::string sessionId;
    const AMDStatus status = handle->lockdown->startSession(record, &sessionId);
    if (status == kAMDSuccess) handle->sessionId = sessionId.empty() ? "session" : sessionId;
    return status;
}

AMDStatus AMDeviceStopSession(const AMDeviceRef& handle) {
    if (!handle) return kAMDInvalidArgumentError;
    std::lock_guard lock(handle->mutex);
    if (!handle->lockdown || handle->sessionId.empty()) return kAMDSuccess;
    const AMDStatus status = handle->lockdown->stopSession(handle->sessionId);
    handle->sessionId.clear();
    return status;
}

foundation::Value AMDeviceCopyValue(const AMDeviceRef& handle, const char* domain,
                                    const char* key) {
    if (!handle) return {};
    std::lock_guard lock(handle->mutex);
    if (!handle->lockdown) return {};
    foundation::Value value;
    if (handle->lockdown->getValue(domain, key, &value) != kAMDSuccess) return {};
    return value;
}

std::string AMDeviceCopyDeviceIdentifier(const AMDeviceRef& handle) {
    return handle ? handle->udid : std::string();
}

std::uint32_t AMDeviceGetInterfaceType(const AMDeviceRef& handle) {
    return handle ? handle->interfaceType : 0;
}

DeviceTimeLimits AMDeviceGetTimeLimits(const AMDeviceRef& handle) {
    return handle ? handle->limits : DeviceTimeLimits{};
}

AMDeviceRef AMDeviceCopyPairedCompanion(const AMDeviceRef&) {
    return nullptr;
}

void AMDeviceRelease(AMDeviceRef& handle) {
    handle.reset();
}

std::string AFCGetClientVersionString() {
    return "Orvandel-AFC-1.0";
}

}  // namespace mobiledevice
