#pragma once

#include <memory>
#include <shared_mutex>
#include <string>

#include "files/WVMobileDeviceFileSystemPluginDelegate.h"
#include "shell/AppServices.h"

class KolvexAppDelegate;

// The device plugins' way to the application delegate's device list: "mdfs" requests name
// a device by identifier, and this finds it among the devices the delegate knows.
class AppDeviceFinder : public WVMobileDeviceFileSystemPluginDelegate {
public:
    // Set once the delegate exists; null before it goes (requests then find no device).
    // Returns once no lookup still uses the delegate given before: the device plugins ask
    // from the thread pool, which may still be serving a page's request as the
    // application quits.
    void setAppDelegate(const KolvexAppDelegate* delegate);
    std::shared_ptr<iMobileDevice> findMobileDeviceById(const std::string& deviceId) override;

    // Fills the services that give the main window and every further web window its
    // "mdfs" plugin, all finding devices through `finder`, which must outlive the windows.
    static void installIn(AppServices& services, const std::shared_ptr<AppDeviceFinder>& finder);

private:
    std::shared_mutex mutex_;
    const KolvexAppDelegate* delegate_ = nullptr;  // under mutex_
};
