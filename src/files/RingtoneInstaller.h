#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "files/WVMobileDeviceFilesystemPlugin.h"

class iMobileDevice;

// "device-add-ringtone": copies the computer file "source" into the device's "/Purchases"
// as "import_<GUID>.m4r" and registers it under "Ringtones" in "/Purchases/Ringtones.plist",
// which is written back as a binary property list keeping every other key and entry. The
// registry as first found is kept once, byte for byte, as "Ringtones.plist.bak".
//
// The registry is read and checked before anything is installed; an installation whose
// registry cannot be written back takes its ringtone file away again, so the device never
// keeps an unregistered file. Installations on one device run one at a time, so none
// loses another's entry. All paths are on the device's media area.
class RingtoneInstaller {
public:
    using Plugin = WVMobileDeviceFilesystemPlugin;

    static constexpr const char* kPurchases = "/Purchases";
    static constexpr const char* kRegistry = "/Purchases/Ringtones.plist";
    static constexpr const char* kBackup = "/Purchases/Ringtones.plist.bak";

    static void addTo(std::map<std::string, Plugin::Command>& commands);

    // Runs the whole installation; {"result": true} or {"result": false, "error"}.
    static foundation::Value install(iMobileDevice& device, const std::optional<std::string>& title,
                                     const std::string& source);

private:
    // The lock kept in the device's user-info store for its registry.
    static std::shared_ptr<std::mutex> registryLockOf(iMobileDevice& device);
    // An error text, or empty when the registry is ready: the parsed registry, or an empty
    // one when the device has none yet (the backup made on the way).
    static std::string loadRegistry(iMobileDevice& device, foundation::Value& registry);
    static std::string backUp(iMobileDevice& device, const foundation::Data& bytes);
};
