#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "device/iPhoneDetector.h"
#include "device/iPodDetector.h"
#include "foundation/NotificationCenter.h"

class DeviceManagerDelegate;
class iMobileDevice;

// Device kinds of the support mask.
inline constexpr std::int32_t kDeviceSupportPod = 1;
inline constexpr std::int32_t kDeviceSupportPhone = 2;
inline constexpr std::int32_t kDeviceSupportPad = 8;

// The one list of connected devices: phones at the front (newest first), iPods after them
// in arrival order. Filters the detectors' announcements by the kind mask and tells its
// delegate, on the thread that announced the device.
class DeviceManager {
public:
    // How the manager makes its detectors; the process entry gives the real ones.
    struct Detectors {
        iPhoneDetector::PhoneMaker phones;
        iPodDetector::PodMaker pods;
        std::shared_ptr<volumes::VolumeMonitor> volumes;  // none: the system's mounts
        bool watchSystemVolumes = true;
        bool listenToHub = true;
    };

    static DeviceManager& defaultDeviceManager();

    DeviceManager() = default;
    ~DeviceManager();
    DeviceManager(const DeviceManager&) = delete;
    DeviceManager& operator=(const DeviceManager&) = delete;

    void setDetectors(Detectors detectors) { detectors_ = std::move(detectors); }
    void setDeviceSupport(std::int32_t mask) { deviceSupport_ = mask; }
    std::int32_t deviceSupport() const { return deviceSupport_; }
    void setDelegate(std::shared_ptr<DeviceManagerDelegate> delegate);
    std::shared_ptr<DeviceManagerDelegate> delegate() const;

    // A snapshot of the list, taken under the manager's lock.
    std::vector<std::shared_ptr<iMobileDevice>> devices() const;
    // The lock readers hold while they work with the devices.
    std::recursive_mutex& lock() const { return mutex_; }

    // Observes the announcements the mask allows and starts both detectors. Always true.
    bool start();
    // Stops observing; the detectors stay. Always true.
    bool stop();

    void OnNewPhoneConnected(const foundation::Notification& notification);
    void OnPhoneDisconnected(const foundation::Notification& notification);
    void OnNewPodConnected(const foundation::Notification& notification);
    void OnPodDisconnected(const foundation::Notification& notification);

    std::shared_ptr<iPhoneDetector> iPhoneListener() const { return iPhoneListener_; }
    iPodDetector* iPodListener() const { return iPodListener_.get(); }

private:
    bool remove(const std::shared_ptr<iMobileDevice>& device);

    Detectors detectors_;
    std::int32_t deviceSupport_ = 0;
    mutable std::recursive_mutex mutex_;
    std::vector<std::shared_ptr<iMobileDevice>> devices_;
    std::shared_ptr<DeviceManagerDelegate> delegate_;
    std::shared_ptr<iPhoneDetector> iPhoneListener_;
    std::unique_ptr<iPodDetector> iPodListener_;
    std::vector<foundation::NotificationCenter::ObserverId> observers_;
};
