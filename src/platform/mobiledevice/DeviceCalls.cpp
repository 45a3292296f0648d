// Connection, pairing, sessions and values of one device, over its lockdown service.

#include <usbmuxd.h>

#include "foundation/PropertyList.h"
#include "platform/mobiledevice/AMDeviceHandle.h"
#include "platform/mobiledevice/MobileDevice.h"
#include "platform/mobiledevice/PairRecord.h"
#include "platform/mobiledevice/StatusMapping.h"

namespace mobiledevice {

namespace {

constexpr const char* kClientLabel = "Orvandel";

void closeLockdown(AMDeviceHandle& handle) {
    if (handle.lockdown) {
        if (!handle.sessionId.empty()) {
            lockdownd_stop_session(handle.lockdown, handle.sessionId.c_str());
        }
        lockdownd_client_free(handle.lockdown);
    }
    handle.sessionId.clear();
    handle.lockdown = nullptr;
    if (handle.device) idevice_free(handle.device);
    handle.device = nullptr;
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
    lockdownd_error_t error = lockdownd_client_new(handle->device, &handle->lockdown, kClientLabel);
    if (error == LOCKDOWN_E_SUCCESS) {
        char* type = nullptr;
        error = lockdownd_query_type(handle->lockdown, &type);
        const bool lockdown = type && std::string_view(type) == "com.apple.mobile.lockdown";
        std::free(type);
        if (error == LOCKDOWN_E_SUCCESS && !lockdown) error = LOCKDOWN_E_INVALID_RESPONSE;
    }
    if (error != LOCKDOWN_E_SUCCESS) {
        closeLockdown(*handle);
        return error == LOCKDOWN_E_MUX_ERROR ? kAMDMuxConnectError : statusFromLockdown(error);
    }
    return kAMDSuccess;
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
    if (pairRecordHostId(handle->udid).empty()) return kAMDInvalidHostIDError;
    return statusFromLockdown(lockdownd_validate_pair(handle->lockdown, nullptr));
}

AMDStatus AMDevicePair(const AMDeviceRef& handle) {
    if (!handle) return kAMDInvalidArgumentError;
    std::lock_guard lock(handle->mutex);
    if (!handle->lockdown) return kAMDNotConnectedError;
    return statusFromLockdown(lockdownd_pair(handle->lockdown, nullptr));
}

AMDStatus AMDeviceUnpair(const AMDeviceRef& handle) {
    if (!handle) return kAMDInvalidArgumentError;
    std::lock_guard lock(handle->mutex);
    if (!handle->lockdown) return kAMDNotConnectedError;
    if (pairRecordHostId(handle->udid).empty()) return kAMDInvalidHostIDError;
    AMDStatus status = statusFromLockdown(lockdownd_unpair(handle->lockdown, nullptr));
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
    const std::string hostId = pairRecordHostId(handle->udid);
    if (hostId.empty()) return kAMDInvalidHostIDError;
    char* sessionId = nullptr;
    int sslEnabled = 0;
    lockdownd_error_t error =
        lockdownd_start_session(handle->lockdown, hostId.c_str(), &sessionId, &sslEnabled);
    if (error == LOCKDOWN_E_SUCCESS) handle->sessionId = sessionId ? sessionId : "session";
    std::free(sessionId);
    return statusFromLockdown(error);
}

AMDStatus AMDeviceStopSession(const AMDeviceRef& handle) {
    if (!handle) return kAMDInvalidArgumentError;
    std::lock_guard lock(handle->mutex);
    if (!handle->lockdown || handle->sessionId.empty()) return kAMDSuccess;
    lockdownd_error_t error = lockdownd_stop_session(handle->lockdown, handle->sessionId.c_str());
    handle->sessionId.clear();
    return statusFromLockdown(error);
}

foundation::Value AMDeviceCopyValue(const AMDeviceRef& handle, const char* domain,
                                    const char* key) {
    if (!handle) return {};
    std::lock_guard lock(handle->mutex);
    if (!handle->lockdown) return {};
    plist_t node = nullptr;
    if (lockdownd_get_value(handle->lockdown, domain, key, &node) != LOCKDOWN_E_SUCCESS) {
        if (node) plist_free(node);
        return {};
    }
    foundation::Value value = foundation::plist::fromNode(node);
    if (node) plist_free(node);
    return value;
}

std::string AMDeviceCopyDeviceIdentifier(const AMDeviceRef& handle) {
    return handle ? handle->udid : std::string();
}

std::uint32_t AMDeviceGetInterfaceType(const AMDeviceRef& handle) {
    return handle ? handle->interfaceType : 0;
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
