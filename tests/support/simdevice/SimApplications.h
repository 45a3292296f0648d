#pragma once

#include <string>

#include "foundation/Value.h"
#include "simdevice/SimDevice.h"

namespace simdevice {

// The applications installed on the simulated device and the services about them.

// Lookup records keyed by bundle identifier, with the client options' "BundleIDs",
// "ApplicationType" and "ReturnAttributes" applied.
foundation::Value lookupApplications(const foundation::Value& clientOptions);
// The application's home-screen icon as PNG; empty for an unknown application.
foundation::Data applicationIcon(const std::string& bundleId);

// "com.apple.mobile.installation_proxy": Lookup and Browse; Install and Upgrade of a
// package under the media folder; Archive, Restore, RemoveArchive and LookupArchives.
void serveInstallationProxy(SimDevice& device, int fd);
// "com.apple.springboardservices": getIconPNGData and getIconState.
void serveSpringboard(int fd);
// "com.apple.mobile.house_arrest": VendContainer or VendDocuments, then the device file
// service over the application's folder under the device's containers folder.
void serveHouseArrest(SimDevice& device, int fd);

}  // namespace simdevice
