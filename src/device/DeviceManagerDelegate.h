#pragma once

#include <memory>

class iMobileDevice;

// Told by the device manager when a device is accepted and when it goes, on the thread
// that reported the device (a background thread for phones and for iPods found at start,
// the main thread for iPods mounted later and for every removal).
class DeviceManagerDelegate {
public:
    virtual ~DeviceManagerDelegate() = default;
    virtual void DeviceAdded(const std::shared_ptr<iMobileDevice>& /*device*/) {}
    virtual void DeviceRemoved(const std::shared_ptr<iMobileDevice>& /*device*/) {}
};
