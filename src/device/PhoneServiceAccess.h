#pragma once

#include <functional>
#include <optional>
#include <string>

#include "foundation/Value.h"

// What a phone offers beyond the device interface: its file services (the media area and
// each application's container), its application list and the applications' icons.
// Callers find it with dynamic_cast on the device object.
class PhoneServiceAccess {
public:
    // Service names besides bundle identifiers.
    static constexpr const char* kMediaService = "com.apple.afc";
    static constexpr const char* kRootService = "com.apple.afc2";

    virtual ~PhoneServiceAccess() = default;

    // Makes a file service current: "com.apple.afc" or "/" the media area,
    // "com.apple.afc2" leaves the current one, anything else is a bundle identifier whose
    // container is opened. Answers whether a service is current afterwards.
    virtual bool changeServiceFileSharingEnabled(const std::string& service,
                                                 bool fileSharingEnabled) = 0;
    bool changeService(const std::string& service) {
        return changeServiceFileSharingEnabled(service, false);
    }
    // Makes the service current and runs `work` so that every device call it makes on the
    // calling thread reaches that service, whatever other callers make current meanwhile;
    // no lock is held while it runs. `work` runs only when the service is current; the
    // answer says whether it ran.
    virtual bool performOnService(const std::string& service, bool fileSharingEnabled,
                                  const std::function<void()>& work) = 0;

    // Installed applications: an array of {"name", "ID", "iconPath", "fileSharingEnabled",
    // "root"}; an empty array when they cannot be read (asked again next time).
    virtual foundation::Value appBundles() = 0;
    // The application's home-screen icon as PNG data, nullopt when there is none.
    virtual std::optional<foundation::Data> getIconDataForApp(const std::string& bundleId) = 0;
};
