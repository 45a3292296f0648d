#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "files/WVMobileDeviceFileSystemPluginDelegate.h"
#include "shell/AppServices.h"

class KolvexAppDelegate;

// The device plugins' way to the application delegate's device list: "mdfs" requests name
// a device by identifier, and this finds it among the devices the delegate knows.
class AppDeviceFinder : public WVMobileDeviceFileSystemPluginDelegate {
public:
    // Set once the delegate exists; null when it goes (requests then find no device).
    void setAppDelegate(const KolvexAppDelegate* delegate) { delegate_ = delegate; }
    std::shared_ptr<iMobileDevice> findMobileDeviceById(const std::string& deviceId) override;

    // Fills the services that give the main window and every further web window its
    // "mdfs" plugin, all finding devices through `finder`, which must outlive the windows.
    static void installIn(AppServices& services, const std::shared_ptr<AppDeviceFinder>& finder);

private:
    std::atomic<const KolvexAppDelegate*> delegate_{nullptr};
};
