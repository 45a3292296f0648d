// Starting device services: plain sockets, service connections, application containers
// and the application lookup.

#include <libimobiledevice/installation_proxy.h>
#include <unistd.h>

#include "foundation/PropertyList.h"
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

AMDStatus startService(const AMDeviceRef& handle, const std::string& name,
                       const foundation::Value& options, StartedService* started, bool connect) {
    if (!handle) return kAMDInvalidArgumentError;
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
    if (!connect) return kAMDSuccess;
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
    if (started.descriptor->ssl_enabled) {
        idevice_error_t error = enableSsl(started.connection);
        if (error != IDEVICE_E_SUCCESS) return statusFromDevice(error);
    }
    *connection = std::make_shared<AMDServiceConnection>(started.device, started.connection);
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
    const std::string command = options["Command"].stringOr("VendContainer");
    auto request = foundation::Value::dict({{"Command", command}, {"Identifier", bundleId}});
    if (AMDStatus status = sendFramedMessage(started.connection, request, kAMDPropertyListXml)) {
        return status;
    }
    foundation::Value reply;
    if (AMDStatus status = receiveFramedMessage(started.connection, &reply, nullptr)) {
        return status;
    }
    if (const std::string* error = reply["Error"].string()) {
        return statusFromHouseArrestError(*error);
    }
    if (reply["Status"].stringOr() != "Complete") return kAMDInvalidResponseError;
    return takeSocket(started, socket);
}

AMDStatus AMDeviceLookupApplications(const AMDeviceRef& handle, const foundation::Value& options,
                                     foundation::Value* applications) {
    if (!applications) return kAMDInvalidArgumentError;
    StartedService started;
    if (AMDStatus status =
            startService(handle, kInstallationProxyService, {}, &started, /*connect=*/false)) {
        return status;
    }
    instproxy_client_t client = nullptr;
    if (instproxy_client_new(started.device, started.descriptor, &client) != INSTPROXY_E_SUCCESS) {
        return kAMDStartServiceError;
    }
    plist_t clientOptions = foundation::plist::toNode(options);
    plist_t result = nullptr;
    instproxy_error_t error = instproxy_lookup(client, nullptr, clientOptions, &result);
    if (clientOptions) plist_free(clientOptions);
    instproxy_client_free(client);
    if (error != INSTPROXY_E_SUCCESS) {
        if (result) plist_free(result);
        return kAMDLookupFailedError;
    }
    *applications = foundation::plist::fromNode(result);
    if (result) plist_free(result);
    if (!applications->isDictionary()) *applications = foundation::Value::dict({});
    return kAMDSuccess;
}

}  // namespace mobiledevice
