#include "app/DeviceDetection.h"

#include "device/DeviceManager.h"
#include "device/DeviceManagerDelegate.h"
#include "device/iPodDevice.h"

bool startDeviceDetection(std::uint32_t deviceKinds, DeviceManagerDelegate& delegate) {
    auto& manager = DeviceManager::defaultDeviceManager();
    DeviceManager::Detectors detectors;
    detectors.pods = [](const std::string& mountPath) {
        return std::make_shared<iPodDevice>(mountPath);
    };
    manager.setDetectors(std::move(detectors));
    manager.setDeviceSupport(static_cast<std::int32_t>(deviceKinds));
    // The delegate lives on main()'s stack until stopDeviceDetection.
    manager.setDelegate(std::shared_ptr<DeviceManagerDelegate>(&delegate, [](auto*) {}));
    return manager.start();
}

void stopDeviceDetection() {
    auto& manager = DeviceManager::defaultDeviceManager();
    manager.stop();
    manager.setDelegate(nullptr);
}
