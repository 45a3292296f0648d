#include "device/DeviceManager.h"

#include <algorithm>

#include "device/DeviceManagerDelegate.h"
#include "device/DeviceNotifications.h"
#include "device/iMobileDevice.h"
#include "logging/Console.h"
#include "logging/LogCall.h"

namespace {

std::shared_ptr<iMobileDevice> deviceOf(const foundation::Notification& notification) {
    const auto* device = notification.get<std::shared_ptr<iMobileDevice>>("device");
    return device ? *device : nullptr;
}

}  // namespace

DeviceManager& DeviceManager::defaultDeviceManager() {
    static DeviceManager manager;
    return manager;
}

DeviceManager::~DeviceManager() {
    stop();
    iPodListener_.reset();
    if (iPhoneListener_) iPhoneListener_->waitUntilIdle();
}

void DeviceManager::setDelegate(std::shared_ptr<DeviceManagerDelegate> delegate) {
    std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
}

std::shared_ptr<DeviceManagerDelegate> DeviceManager::delegate() const {
    std::lock_guard lock(mutex_);
    return delegate_;
}

std::vector<std::shared_ptr<iMobileDevice>> DeviceManager::devices() const {
    std::lock_guard lock(mutex_);
    return devices_;
}

bool DeviceManager::start() {
    LogInfo("Started");
    auto& center = foundation::NotificationCenter::defaultCenter();
    iPhoneListener_ = std::make_shared<iPhoneDetector>(detectors_.phones);
    auto monitor = detectors_.volumes ? detectors_.volumes
                                      : std::make_shared<volumes::VolumeMonitor>();
    iPodListener_ = std::make_unique<iPodDetector>(monitor, detectors_.pods);
    // Only this manager's detectors are heard.
    const void* phones = iPhoneListener_.get();
    const void* pods = iPodListener_.get();
    auto observe = [&](const char* name, const void* sender,
                       void (DeviceManager::*handler)(const foundation::Notification&)) {
        observers_.push_back(center.addObserver(
            name, sender, [this, handler](const foundation::Notification& n) { (this->*handler)(n); }));
    };
    if (deviceSupport_ & (kDeviceSupportPhone | kDeviceSupportPad)) {
        observe(kMsgNewPhoneConnected, phones, &DeviceManager::OnNewPhoneConnected);
        observe(kMsgPhoneDisconnected, phones, &DeviceManager::OnPhoneDisconnected);
    }
    if (deviceSupport_ & kDeviceSupportPod) {
        observe(kMsgNewPodConnected, pods, &DeviceManager::OnNewPodConnected);
        observe(kMsgPodDisconnected, pods, &DeviceManager::OnPodDisconnected);
    }
    if (detectors_.listenToHub) iPhoneListener_->startListening();
    iPodListener_->start(detectors_.watchSystemVolumes);
    return true;
}

bool DeviceManager::stop() {
    auto& center = foundation::NotificationCenter::defaultCenter();
    for (const auto id : observers_) center.removeObserver(id);
    observers_.clear();
    return true;
}

void DeviceManager::OnNewPhoneConnected(const foundation::Notification& notification) {
    auto device = deviceOf(notification);
    if (!device) return;
    const std::int32_t type = device->deviceType();
    if ((type == kDeviceTypeiPodTouch || type == kDeviceTypeiPhone) &&
        !(deviceSupport_ & kDeviceSupportPhone))
        return;
    if (type == kDeviceTypeiPad && !(deviceSupport_ & kDeviceSupportPad)) return;
    ConsoleLog("new phone connected:" + device->name());
    std::shared_ptr<DeviceManagerDelegate> delegate;
    {
        std::lock_guard lock(mutex_);
        devices_.insert(devices_.begin(), device);
        delegate = delegate_;
    }
    if (delegate) delegate->DeviceAdded(device);
}

bool DeviceManager::remove(const std::shared_ptr<iMobileDevice>& device) {
    std::lock_guard lock(mutex_);
    const auto found = std::find(devices_.begin(), devices_.end(), device);
    if (found == devices_.end()) return false;
    devices_.erase(found);
    return true;
}

void DeviceManager::OnPhoneDisconnected(const foundation::Notification& notification) {
    auto device = deviceOf(notification);
    if (!device || !remove(device)) return;
    ConsoleLog("phone disconnected");
    if (auto delegate = this->delegate()) delegate->DeviceRemoved(device);
}

void DeviceManager::OnNewPodConnected(const foundation::Notification& notification) {
    auto device = deviceOf(notification);
    if (!device || device->deviceType() != kDeviceTypeiPodDiskMode) return;
    ConsoleLog("new pod connected:" + device->name());
    std::shared_ptr<DeviceManagerDelegate> delegate;
    {
        std::lock_guard lock(mutex_);
        devices_.push_back(device);
        delegate = delegate_;
    }
    if (delegate) delegate->DeviceAdded(device);
}

void DeviceManager::OnPodDisconnected(const foundation::Notification& notification) {
    ConsoleLog("pod disconnected");
    auto device = deviceOf(notification);
    if (!device || !remove(device)) return;
    if (auto delegate = this->delegate()) delegate->DeviceRemoved(device);
}
