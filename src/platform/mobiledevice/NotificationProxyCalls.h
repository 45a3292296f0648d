#pragma once

// Requests to the device's notification proxy on the socket of a started
// "com.apple.mobile.notification_proxy" service. Each is one XML property list framed with
// a 4-byte big-endian length; the device's answers arrive on the same socket.

#include <string>

#include "foundation/Value.h"
#include "platform/mobiledevice/AMDStatus.h"

namespace mobiledevice {

// Asks the device to relay the named notification from now on.
AMDStatus AMDObserveNotification(int socket, const std::string& name);
// Posts the named notification on the device; user info is optional (nil for none).
AMDStatus AMDPostNotification(int socket, const std::string& name,
                              const foundation::Value& userInfo);

}  // namespace mobiledevice
