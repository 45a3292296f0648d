#pragma once

#include <cstdint>
#include <memory>

#include "simdevice/SimDevice.h"
#include "simdevice/SimLockdown.h"

namespace simdevice {

// Whether a connection to the device's port would be taken: lockdown, or a port StartService
// handed out, on a device that takes connections.
bool acceptsPort(const SimDevice& device, std::uint16_t port);

// Speaks the port's protocol on an accepted connection until the peer leaves: lockdown, or
// the service started on that port, inside TLS when the service was started secure. The
// caller closes the connection afterwards.
void serveDevicePort(const std::shared_ptr<SimDevice>& device, std::uint16_t port, int fd);

}  // namespace simdevice
