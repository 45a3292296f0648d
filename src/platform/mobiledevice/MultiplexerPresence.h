#pragma once

// Whether the device multiplexer answers where the client library looks for it
// (USBMUXD_SOCKET_ADDRESS: "UNIX:path" or "host:port"; else /var/run/usbmuxd), and which
// one: a multiplexer started again makes its socket anew. Only the layer's own sources
// include this.

#include <sys/types.h>

#include <compare>


namespace mobiledevice {

struct MultiplexerPresence {
    bool answers = false;
    // The Unix socket file (inode, and when it was made or moved into place); 0 for TCP.
    ino_t socketFile = 0;
    long long socketMade = 0;
    auto operator<=>(const MultiplexerPresence&) const = default;
};

// Connects and hangs up at once.
MultiplexerPresence probeMultiplexer();

}  // namespace mobiledevice
