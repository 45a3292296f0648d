#pragma once

#include <chrono>

namespace mobiledevice {

// How long a device has to answer before the wait for it is given up and the exchange fails
// as timed out. A healthy phone answers well within each; one that has stopped answering
// frees the thread that waits for it. Each limit bounds every single wait: for the device
// to send more of a reply, or to take more of what is sent to it.
struct DeviceTimeLimits {
    // A TLS handshake.
    std::chrono::milliseconds handshake = std::chrono::seconds(10);
    // The lockdown service, whose requests are small and answered at once.
    std::chrono::milliseconds lockdownReply = std::chrono::seconds(30);
    // A started service, the file service among them: a phone may first gather what it
    // answers (diagnostics, an application list, an archive) or be busy writing a file.
    std::chrono::milliseconds serviceReply = std::chrono::seconds(60);
};

// A limit as the layer's waits take it: whole milliseconds, at least one.
inline unsigned int limitMs(std::chrono::milliseconds limit) {
    return limit.count() > 0 ? static_cast<unsigned int>(limit.count()) : 1u;
}

}  // namespace mobiledevice
