#pragma once

// Inner state behind the layer's handles; only the layer's own sources include this.

#include <libimobiledevice/afc.h>
#include <libimobiledevice/house_arrest.h>
#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/lockdown.h>

#include <cstdint>
#include <mutex>
#include <string>

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

    // Guards everything below: one lockdown exchange at a time per device.
    std::mutex mutex;
    idevice_t device = nullptr;
    lockdownd_client_t lockdown = nullptr;
    std::string sessionId;
};

struct AMDServiceConnection {
    AMDServiceConnection(idevice_t deviceIn, idevice_connection_t connectionIn)
        : device(deviceIn), connection(connectionIn) {}
    ~AMDServiceConnection();
    AMDServiceConnection(const AMDServiceConnection&) = delete;
    AMDServiceConnection& operator=(const AMDServiceConnection&) = delete;

    // Each service connection has a device handle of its own, so that it outlives the
    // lockdown connection it was started from.
    idevice_t device;
    idevice_connection_t connection;
};

// A file service client with the device handle it was made on, and the container service
// it came from when it reaches an application's container.
struct AFCConnection {
    AFCConnection() = default;
    ~AFCConnection();
    AFCConnection(const AFCConnection&) = delete;
    AFCConnection& operator=(const AFCConnection&) = delete;

    idevice_t device = nullptr;
    house_arrest_client_t houseArrest = nullptr;
    afc_client_t afc = nullptr;
};

// Opens a fresh device handle for the same attachment (USB or network lookup).
idevice_t openDevice(const AMDeviceHandle& handle);

}  // namespace mobiledevice
