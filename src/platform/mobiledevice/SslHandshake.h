#pragma once

#include <libimobiledevice/libimobiledevice.h>

namespace mobiledevice {

// Switches a device connection to TLS, the handshake running on a blocking socket.
// libimobiledevice's own handshake loop sleeps 100 ms each time the device's answer has not
// arrived yet, which on the multiplexer's non-blocking sockets is nearly every handshake;
// blocking, it waits only as long as the device takes. The socket's mode is put back after,
// as the layer's receive time-outs poll it.
idevice_error_t enableSsl(idevice_connection_t connection);

}  // namespace mobiledevice
