#include "device/iPodDetector.h"

#include <algorithm>
#include <filesystem>

#include "device/DeviceNotifications.h"
#include "device/iMobileDevice.h"
#include "foundation/NotificationCenter.h"

iPodDetector::iPodDetector(std::shared_ptr<volumes::VolumeMonitor> monitor, PodMaker maker)
    : monitor_(std::move(monitor)), maker_(std::move(maker)) {}

void iPodDetector::start(bool watchSystem) {
    CheckExistingMountedDevices();
    monitor_->start([this](const volumes::MountEntry& entry) { OnNewPodMounted(entry.mountPath); },
                    [this](const volumes::MountEntry& entry) { OnPodUnMounted(entry.mountPath); },
                    watchSystem);
}

iPodDetector::~iPodDetector() {
    monitor_->stop();
    waitForAnnouncements();
}

bool iPodDetector::IsPodDevicePath(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_directory(std::filesystem::path(path) / "iPod_Control", ec);
}

std::shared_ptr<iMobileDevice> iPodDetector::CreateIPodDeviceAtPath(const std::string& path,
                                                                    bool /*diskMode*/) {
    return maker_ ? maker_(path) : nullptr;
}

std::shared_ptr<iMobileDevice> iPodDetector::AddNewPodDevice(const std::string& path) {
    {
        std::lock_guard lock(syncLock_);
        if (std::find(allPodPaths_.begin(), allPodPaths_.end(), path) != allPodPaths_.end())
            return nullptr;
    }
    if (!IsPodDevicePath(path)) return nullptr;
    auto device = CreateIPodDeviceAtPath(path, true);
    if (!device) return nullptr;
    std::lock_guard lock(syncLock_);
    allPodPaths_.push_back(path);
    allPodDevices_.push_back(device);
    return device;
}

void iPodDetector::CheckExistingMountedDevices() {
    for (const auto& volume : monitor_->mountedVolumes()) {
        if (auto device = AddNewPodDevice(volume.mountPath)) NotifyForNewPod(device);
    }
}

void iPodDetector::waitForAnnouncements() { announcements_.sync([] {}); }

bool iPodDetector::isKnown(const std::shared_ptr<iMobileDevice>& device) {
    std::lock_guard lock(syncLock_);
    return std::find(allPodDevices_.begin(), allPodDevices_.end(), device) != allPodDevices_.end();
}

void iPodDetector::NotifyForNewPod(const std::shared_ptr<iMobileDevice>& device) {
    announcements_.async([this, device] {
        // The name comes off the volume's database: read it here, not on the thread that
        // takes the announcement.
        (void)device->name();
        // Unmounted meanwhile: its leaving went out (to nobody) after this was queued.
        if (!isKnown(device)) return;
        foundation::NotificationCenter::defaultCenter().post(kMsgNewPodConnected, this,
                                                             {{"device", device}});
    });
}

void iPodDetector::OnNewPodMounted(const std::string& path) {
    if (auto device = AddNewPodDevice(path)) NotifyForNewPod(device);
}

void iPodDetector::OnPodUnMounted(const std::string& path) {
    std::shared_ptr<iMobileDevice> device;
    {
        std::lock_guard lock(syncLock_);
        const auto found = std::find(allPodPaths_.begin(), allPodPaths_.end(), path);
        if (found == allPodPaths_.end()) return;
        const auto index = found - allPodPaths_.begin();
        device = allPodDevices_[static_cast<std::size_t>(index)];
        allPodPaths_.erase(found);
        allPodDevices_.erase(allPodDevices_.begin() + index);
    }
    announcements_.async([this, device] {
        foundation::NotificationCenter::defaultCenter().post(kMsgPodDisconnected, this,
                                                             {{"device", device}});
    });
}
