#pragma once

#include <libimobiledevice/libimobiledevice.h>

#include <chrono>

#include "platform/mobiledevice/DeviceTimeLimits.h"

namespace mobiledevice {

// Switches a device connection to TLS, the handshake running on a blocking socket.
// libimobiledevice's own handshake loop sleeps 100 ms each time the device's answer has not
// arrived yet, which on the multiplexer's non-blocking sockets is nearly every handshake;
// blocking, it waits only as long as the device takes. The socket's mode is put back after,
// as the layer's receive time-outs poll it. A device that has not answered within `limit`
// has its connection shut down, which ends the handshake with an error: the connection is
// of no further use then.
idevice_error_t enableSsl(idevice_connection_t connection,
                          std::chrono::milliseconds limit = DeviceTimeLimits{}.handshake);

}  // namespace mobiledevice
