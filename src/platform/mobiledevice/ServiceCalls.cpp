// Starting device services: plain sockets, service connections, application containers
// and the application lookup.

#include <unistd.h>

#include <chrono>

#include "platform/mobiledevice/AMDeviceHandle.h"
#include "platform/mobiledevice/ConnectionFraming.h"
#include "platform/mobiledevice/MobileDevice.h"
#include "platform/mobiledevice/PairRecord.h"
#include "platform/mobiledevice/SslHandshake.h"
#include "platform/mobiledevice/StartedService.h"
#include "platform/mobiledevice/StatusMapping.h"

namespace mobiledevice {

namespace {

constexpr const char* kHouseArrestService = "com.apple.mobile.house_arrest";
constexpr const char* kInstallationProxyService = "com.apple.mobile.installation_proxy";

// A descriptor of our own for the service's socket, which outlives the connection.
AMDStatus takeSocket(StartedService& started, int* socket) {
    int fd = -1;
    if (idevice_connection_get_fd(started.connection, &fd) != IDEVICE_E_SUCCESS) {
        return kAMDMuxConnectError;
    }
    int own = ::dup(fd);
    if (own < 0) return kAMDNoResourcesError;
    *socket = own;
    return kAMDSuccess;
}

}  // namespace

StartedService::~StartedService() {
    if (connection) idevice_disconnect(connection);
    if (device) idevice_free(device);
    if (descriptor) lockdownd_service_descriptor_free(descriptor);
}

AMDStatus StartedService::secureWhenAsked() {
    if (!descriptor->ssl_enabled) return kAMDSuccess;
    return statusFromDevice(enableSsl(connection, limits.handshake));
}

AMDStatus vendContainer(const Wire& wire, const std::string& bundleId,
                        const foundation::Value& options) {
    const std::string command = options["Command"].stringOr("VendContainer");
    const auto request = foundation::Value::dict({{"Command", command}, {"Identifier", bundleId}});
    if (AMDStatus status = sendFramedMessage(wire, request, kAMDPropertyListXml)) return status;
    foundation::Value reply;
    if (AMDStatus status = receiveFramedMessage(wire, &reply, nullptr)) return status;
    if (const std::string* error = reply["Error"].string()) {
        return statusFromHouseArrestError(*error);
    }
    return reply["Status"].stringOr() == "Complete" ? kAMDSuccess : kAMDInvalidResponseError;
}

AMDStatus startService(const AMDeviceRef& handle, const std::string& name,
                       const foundation::Value& options, StartedService* started) {
    if (!handle) return kAMDInvalidArgumentError;
    started->limits = handle->limits;
    {
        std::lock_guard lock(handle->mutex);
        if (!handle->lockdown) return kAMDNotConnectedError;
        foundation::Value escrowBag;
        if (options["UnlockEscrowBag"].toBool().value_or(false)) {
            escrowBag = readPairRecord(handle->udid)["EscrowBag"];
            if (!escrowBag.isData()) return kAMDMissingPairRecordError;
        }
        const AMDStatus status = handle->lockdown->startService(
            name, escrowBag.isNil() ? nullptr : &escrowBag, &started->descriptor);
        if (status != kAMDSuccess) return status;
    }
    started->device = openDevice(*handle);
    if (!started->device) return kAMDDeviceDisconnectedError;
    idevice_error_t error =
        idevice_connect(started->device, started->descriptor->port, &started->connection);
    if (error != IDEVICE_E_SUCCESS) return kAMDMuxConnectError;
    return kAMDSuccess;
}

AMDStatus AMDeviceStartService(const AMDeviceRef& handle, const std::string& name, int* socket,
                               void*) {
    if (!socket) return kAMDInvalidArgumentError;
    StartedService started;
    if (AMDStatus status = startService(handle, name, {}, &started)) return status;
    if (started.descriptor->ssl_enabled) return kAMDServiceProhibitedError;
    return takeSocket(started, socket);
}

AMDStatus AMDeviceSecureStartService(const AMDeviceRef& handle, const std::string& name,
                                     const foundation::Value& options,
                                     AMDServiceConnectionRef* connection) {
    if (!connection) return kAMDInvalidArgumentError;
    StartedService started;
    if (AMDStatus status = startService(handle, name, options, &started)) return status;
    if (AMDStatus status = started.secureWhenAsked()) return status;
    *connection = std::make_shared<AMDServiceConnection>(started.device, started.wire());
    started.device = nullptr;
    started.connection = nullptr;
    return kAMDSuccess;
}

AMDStatus AMDeviceCreateHouseArrestService(const AMDeviceRef& handle, const std::string& bundleId,
                                           const foundation::Value& options, int* socket) {
    if (!socket) return kAMDInvalidArgumentError;
    StartedService started;
    if (AMDStatus status = startService(handle, kHouseArrestService, {}, &started)) return status;
    if (started.descriptor->ssl_enabled) return kAMDServiceProhibitedError;
    if (AMDStatus status = vendContainer(started.wire(), bundleId, options)) return status;
    return takeSocket(started, socket);
}

AMDStatus AMDeviceLookupApplications(const AMDeviceRef& handle, const foundation::Value& options,
                                     foundation::Value* applications) {
    if (!applications) return kAMDInvalidArgumentError;
    StartedService started;
    if (AMDStatus status = startService(handle, kInstallationProxyService, {}, &started)) {
        return status;
    }
    if (AMDStatus status = started.secureWhenAsked()) return status;
    const Wire wire = started.wire();
    const auto request =
        foundation::Value::dict({{"Command", "Lookup"}, {"ClientOptions", options}});
    if (AMDStatus status = sendFramedMessage(wire, request, kAMDPropertyListXml)) return status;
    // The records may come over several replies; the last says "Complete". A phone that
    // goes on "in progress" gets no more than one message's worth of bytes in all, and the
    // reply limit for the whole lookup.
    std::size_t received = 0;
    const auto deadline = std::chrono::steady_clock::now() + started.limits.serviceReply;
    const ExactReceiver counted = [&](void* bytes, std::size_t length) {
        received += length;
        if (received > kMaxMessageLength) return kAMDLookupFailedError;
        if (std::chrono::steady_clock::now() > deadline) return kAMDTimeOutError;
        return receiveExactly(wire, bytes, length);
    };
    foundation::Value found = foundation::Value::dict({});
    for (;;) {
        foundation::Value reply;
        if (AMDStatus status = receiveFramedMessage(counted, &reply, nullptr)) {
            return status;
        }
        if (!reply.isDictionary() || !reply["Error"].isNil()) return kAMDLookupFailedError;
        if (const auto* records = reply["LookupResult"].dictionary()) {
            for (const auto& [bundleId, record] : *records) found.set(bundleId, record);
        }
        const foundation::Value& status = reply["Status"];
        if (status.isNil() || status.stringOr() == "Complete") break;
    }
    *applications = std::move(found);
    return kAMDSuccess;
}

}  // namespace mobiledevice
