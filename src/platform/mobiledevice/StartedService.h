#pragma once

// A service started through a device's lockdown session; only the layer's own sources
// include this.

#include <string>

#include "foundation/Value.h"
#include "platform/mobiledevice/AMDeviceHandle.h"
#include "platform/mobiledevice/ConnectionFraming.h"

namespace mobiledevice {

// Owns a started service's descriptor, a device handle of its own and, when asked for,
// the connection to the service's port.
struct StartedService {
    StartedService() = default;
    ~StartedService();
    StartedService(const StartedService&) = delete;
    StartedService& operator=(const StartedService&) = delete;

    lockdownd_service_descriptor_t descriptor = nullptr;
    idevice_t device = nullptr;
    idevice_connection_t connection = nullptr;
    // The device's, for every exchange with the service.
    DeviceTimeLimits limits;

    unsigned int replyLimitMs() const { return limitMs(limits.serviceReply); }
    // The connection as spoken over, once secureWhenAsked() has run.
    Wire wire() const { return {connection, descriptor->ssl_enabled != 0, replyLimitMs()}; }
    // Switches the connection to TLS when the service asks for it.
    AMDStatus secureWhenAsked();
};

// Asks a started house-arrest service for one application's container ({"Command":
// "VendDocuments"} in `options` for its documents only, "VendContainer" otherwise); once
// that is granted the connection speaks the file service's protocol.
AMDStatus vendContainer(const Wire& wire, const std::string& bundleId,
                        const foundation::Value& options);

// Starts the service in the device's open session ({"UnlockEscrowBag": true} asks for
// the escrow bag); connects to it.
AMDStatus startService(const AMDeviceRef& handle, const std::string& name,
                       const foundation::Value& options, StartedService* started);

}  // namespace mobiledevice
