#pragma once

#include "simdevice/SimDevice.h"

namespace simdevice {

// DeviceLink services: the version exchange (the device offers its version, the host
// answers "DLVersionsOk", the device says it is ready), then process messages until the
// host disconnects.

// "com.apple.mobile.screenshotr": "ScreenShotRequest" answered with the screen's image.
void serveScreenshot(SimDevice& device, int fd);
// "com.apple.mobilesync": records what the host asks and answers a request for all
// records with an empty change set.
void serveMobileSync(SimDevice& device, int fd);

}  // namespace simdevice
