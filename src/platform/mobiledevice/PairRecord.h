#pragma once

#include <string>

#include "foundation/Value.h"

namespace mobiledevice {

// This host's pair record for a device, as the multiplexer keeps it; nil when none.
foundation::Value readPairRecord(const std::string& udid);
// The record's host identifier, empty when there is no usable record.
std::string pairRecordHostId(const std::string& udid);

}  // namespace mobiledevice
