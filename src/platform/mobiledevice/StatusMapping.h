#pragma once

#include <libimobiledevice/afc.h>
#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/lockdown.h>

#include <string_view>

#include "platform/mobiledevice/AMDStatus.h"

namespace mobiledevice {

AMDStatus statusFromLockdown(lockdownd_error_t error);
// The error names lockdown answers with ("InvalidHostID", ...), as statusFromLockdown maps
// the library's codes for them; names it does not know are undefined errors.
AMDStatus statusFromLockdownError(std::string_view name);
AMDStatus statusFromDevice(idevice_error_t error);
AMDStatus statusFromFileService(afc_error_t error);
// The error names a container service answers with ("ApplicationLookupFailed", ...).
AMDStatus statusFromHouseArrestError(std::string_view name);

}  // namespace mobiledevice
