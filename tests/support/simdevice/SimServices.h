#pragma once

#include <memory>
#include <string>

#include "simdevice/SimDevice.h"

namespace simdevice {

// Whether the device can start the named service; file services need their folder.
bool isKnownService(const SimDevice& device, const std::string& name);
// Speaks the service's protocol on the connection until the peer leaves.
void serveService(const std::shared_ptr<SimDevice>& device, const std::string& name, int fd);

}  // namespace simdevice
