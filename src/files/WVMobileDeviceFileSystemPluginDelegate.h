#pragma once

#include <memory>
#include <string>

class iMobileDevice;

// How the "mdfs" plugin finds the device a request names.
class WVMobileDeviceFileSystemPluginDelegate {
public:
    virtual ~WVMobileDeviceFileSystemPluginDelegate() = default;
    // The connected device with that identifier, or null.
    virtual std::shared_ptr<iMobileDevice> findMobileDeviceById(const std::string& deviceId) = 0;
};
