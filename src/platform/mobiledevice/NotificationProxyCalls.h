#pragma once

// Requests to the device's notification proxy on the socket of a started
// "com.apple.mobile.notification_proxy" service. Each is one XML property list framed with
// a 4-byte big-endian length; the device's answers arrive on the same socket.

#include <memory>
#include <string>

#include "foundation/Value.h"
#include "platform/mobiledevice/AMDStatus.h"
#include "platform/mobiledevice/DeviceTimeLimits.h"

namespace mobiledevice {

struct AMDNotificationListener;
using AMDNotificationListenerRef = std::shared_ptr<AMDNotificationListener>;
// Called on the listener's thread with the name of a relayed notification.
using AMDNotificationCallback = void (*)(const std::string& name, void* context);

// Asks the device to relay the named notification from now on. A device that does not take
// the request within `timeoutMs` fails it with kAMDTimeOutError.
AMDStatus AMDObserveNotification(int socket, const std::string& name,
                                 unsigned int timeoutMs = limitMs(DeviceTimeLimits{}.serviceReply));
// Posts the named notification on the device; user info is optional (nil for none).
AMDStatus AMDPostNotification(int socket, const std::string& name,
                              const foundation::Value& userInfo,
                              unsigned int timeoutMs = limitMs(DeviceTimeLimits{}.serviceReply));
// Reads the proxy's messages on a thread of the listener's own and calls back with the name
// of each relayed notification, one at a time. Listening ends at "ProxyDeath", when the
// connection ends or fails, or when stopped. Nothing else may read the socket meanwhile.
AMDStatus AMDListenForNotifications(int socket, AMDNotificationCallback callback, void* context,
                                    AMDNotificationListenerRef* listener);
// Ends listening (dropping the listener does too). Returns once the callback has run for the
// last time, except when called from the callback itself.
AMDStatus AMDStopListeningForNotifications(const AMDNotificationListenerRef& listener);
bool AMDNotificationListenerIsListening(const AMDNotificationListenerRef& listener);

}  // namespace mobiledevice
