#pragma once

// A device's lockdown service over a connection of the layer's own: requests and replies are
// length-prefixed property lists, and a session switches the connection to TLS. Holding the
// connection lets the session's handshake run through enableSsl; the library's lockdown
// client hides its connection and pays its handshake loop's 100 ms sleeps on every session.
// Pairing, which needs certificates made, stays with the library (see DeviceCalls.cpp).
// Only the layer's own sources include this.

#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/lockdown.h>

#include <memory>
#include <string>

#include "foundation/Value.h"
#include "platform/mobiledevice/AMDStatus.h"
#include "platform/mobiledevice/DeviceTimeLimits.h"

namespace mobiledevice {

// How this host names itself to the device.
inline constexpr const char* kLockdownLabel = "Orvandel";

class LockdownClient {
public:
    // Connects to the device's lockdown port; the client owns the connection. Each reply,
    // send and handshake is given up once its limit has passed (kAMDTimeOutError).
    static AMDStatus open(idevice_t device, std::unique_ptr<LockdownClient>* client,
                          const DeviceTimeLimits& limits = {});
    LockdownClient(idevice_connection_t connection, const DeviceTimeLimits& limits)
        : connection_(connection), limits_(limits) {}
    ~LockdownClient();
    LockdownClient(const LockdownClient&) = delete;
    LockdownClient& operator=(const LockdownClient&) = delete;

    AMDStatus queryType(std::string* type);
    // The pair record's public half, as the device checks it against its own copy.
    AMDStatus validatePair(const foundation::Value& pairRecord);
    // Nil in `value` when the device has no value to give.
    AMDStatus getValue(const char* domain, const char* key, foundation::Value* value);
    AMDStatus startSession(const foundation::Value& pairRecord, std::string* sessionId);
    // The connection is plain again afterwards, whatever the device answers.
    AMDStatus stopSession(const std::string& sessionId);
    // The service's port and whether it wants TLS; `escrowBag` (may be null) unlocks
    // protected data. The descriptor is freed with lockdownd_service_descriptor_free.
    AMDStatus startService(const std::string& name, const foundation::Value* escrowBag,
                           lockdownd_service_descriptor_t* descriptor);

private:
    // Sends `request` with its name and our label, and reads the reply; a reply naming an
    // error gives that error's status.
    AMDStatus exchange(const char* name, foundation::Value request, foundation::Value* reply);

    idevice_connection_t connection_;
    const DeviceTimeLimits limits_;
    bool secure_ = false;
};

}  // namespace mobiledevice
