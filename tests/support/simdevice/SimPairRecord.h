#pragma once

#include <string>

#include "foundation/Value.h"

namespace simdevice {

// A host's pair record for the simulated device, as pairing would leave it: a root
// certificate, a host and a device certificate issued by it (the device's on the device
// key), the private keys of root and host, all in PEM.
foundation::Value makePairRecord(const std::string& hostId, const std::string& systemBuid);

}  // namespace simdevice
