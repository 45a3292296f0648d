#pragma once

// Inner state behind the layer's handles; only the layer's own sources include this.

#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/lockdown.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/Value.h"
#include "platform/mobiledevice/ConnectionFraming.h"
#include "platform/mobiledevice/DeviceTimeLimits.h"
#include "platform/mobiledevice/LockdownClient.h"
#include "platform/mobiledevice/MobileDevice.h"

namespace mobiledevice {

struct AMDeviceHandle {
    AMDeviceHandle(std::string udidIn, std::uint32_t muxIdIn, std::uint32_t typeIn)
        : udid(std::move(udidIn)), muxId(muxIdIn), interfaceType(typeIn) {}
    ~AMDeviceHandle();
    AMDeviceHandle(const AMDeviceHandle&) = delete;
    AMDeviceHandle& operator=(const AMDeviceHandle&) = delete;

    const std::string udid;
    const std::uint32_t muxId;
    const std::uint32_t interfaceType;
    // For every exchange with the device, its services' included; fixed before the handle is
    // handed out (tests shorten them).
    DeviceTimeLimits limits;

    // Guards everything below: one lockdown exchange at a time per device.
    std::mutex mutex;
    idevice_t device = nullptr;
    std::unique_ptr<LockdownClient> lockdown;
    std::string sessionId;
};

struct AMDServiceConnection {
    AMDServiceConnection(idevice_t deviceIn, const Wire& wireIn)
        : device(deviceIn), connection(wireIn.connection), wire(wireIn) {}
    ~AMDServiceConnection();
    AMDServiceConnection(const AMDServiceConnection&) = delete;
    AMDServiceConnection& operator=(const AMDServiceConnection&) = delete;

    // Each service connection has a device handle of its own, so that it outlives the
    // lockdown connection it was started from.
    idevice_t device;
    idevice_connection_t connection;
    // How it is spoken over, and how long each wait for the device lasts.
    const Wire wire;
    // Inside TLS a read takes a whole record off the socket; what it gave beyond what was
    // asked for waits here for the next receive, as the socket no longer shows it.
    std::vector<char> surplus;
    std::size_t surplusStart = 0;
};

// A file service connection with the device handle it was made on. After a failed
// exchange the stream is out of step, so the connection refuses further calls.
struct AFCConnection {
    AFCConnection(idevice_t deviceIn, const Wire& wireIn)
        : device(deviceIn), connection(wireIn.connection), wire(wireIn) {}
    ~AFCConnection();
    AFCConnection(const AFCConnection&) = delete;
    AFCConnection& operator=(const AFCConnection&) = delete;

    idevice_t device;
    idevice_connection_t connection;
    // How it is spoken over, and how long each wait for the device lasts.
    const Wire wire;
    std::uint64_t nextPacket = 0;
    bool broken = false;
    foundation::Value lastErrorInfo;  // of the last refused operation
};

// Opens a fresh device handle for the same attachment (USB or network lookup).
idevice_t openDevice(const AMDeviceHandle& handle);

}  // namespace mobiledevice
