#include "app/DeviceDetection.h"

#include <glib.h>

#include <atomic>
#include <thread>

#include "device/DeviceManager.h"
#include "device/DeviceManagerDelegate.h"
#include "device/iPhoneDevice.h"
#include "device/iPodDevice.h"
#include "foundation/MainQueue.h"
#include "shell/KolvexAppDelegate.h"

namespace {

// The device manager's delegate: passes each device on to the application delegate.
class DelegateRelay : public DeviceManagerDelegate {
public:
    explicit DelegateRelay(KolvexAppDelegate& delegate) : delegate_(delegate) {}
    void DeviceAdded(const std::shared_ptr<iMobileDevice>& device) override {
        delegate_.DeviceAdded(device);
    }
    void DeviceRemoved(const std::shared_ptr<iMobileDevice>& device) override {
        delegate_.DeviceRemoved(device);
    }

private:
    KolvexAppDelegate& delegate_;
};

}  // namespace

std::shared_ptr<DeviceManagerDelegate> delegateRelay(KolvexAppDelegate& delegate) {
    return std::make_shared<DelegateRelay>(delegate);
}

DeviceManager::Detectors systemDetectors() {
    DeviceManager::Detectors detectors;
    detectors.phones.make = [](const std::shared_ptr<AMDevice>&) {
        return std::make_shared<iPhoneDevice>();
    };
    detectors.phones.setUp = [](const std::shared_ptr<iMobileDevice>& device,
                                const std::shared_ptr<AMDevice>& hubDevice) {
        std::static_pointer_cast<iPhoneDevice>(device)->createWithDeviceEnableAfc2(hubDevice, false);
    };
    detectors.phones.isReady = [](const std::shared_ptr<iMobileDevice>& device) {
        return std::static_pointer_cast<iPhoneDevice>(device)->hasAttributes();
    };
    detectors.phones.refresh = [](const std::shared_ptr<iMobileDevice>& device) {
        return std::static_pointer_cast<iPhoneDevice>(device)->reloadAttributes();
    };
    detectors.pods = [](const std::string& mountPath) {
        return std::make_shared<iPodDevice>(mountPath);
    };
    return detectors;
}

bool startDeviceDetection(std::uint32_t deviceKinds, KolvexAppDelegate& delegate) {
    auto& manager = DeviceManager::defaultDeviceManager();
    manager.setDetectors(systemDetectors());
    manager.setDeviceSupport(static_cast<std::int32_t>(deviceKinds));
    manager.setDelegate(delegateRelay(delegate));
    return manager.start();
}

void retryPhoneSetUp(const std::shared_ptr<AppDevice>& device) {
    auto detector = DeviceManager::defaultDeviceManager().iPhoneListener();
    if (detector) detector->retrySetUp(dynamic_cast<const iMobileDevice*>(device.get()));
}

void stopDeviceDetection() {
    auto stop = [] {
        auto& manager = DeviceManager::defaultDeviceManager();
        manager.stop();
        manager.setDelegate(nullptr);
    };
    if (!foundation::MainQueue::isMainThread()) return stop();
    // Stopping waits for an announcement being delivered, and that delivery may itself wait
    // for the main thread (the page hears of the device there): the main context keeps
    // turning until the stop is through, even after the main loop has ended.
    std::atomic<bool> stopped{false};
    std::thread stopper([&] {
        stop();
        stopped = true;
        g_main_context_wakeup(g_main_context_default());
    });
    while (!stopped) g_main_context_iteration(g_main_context_default(), TRUE);
    stopper.join();
}
