#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/volumes/VolumeMonitor.h"

class iMobileDevice;
class iPodDevice;

// Recognises mounted volumes that hold an iPod control folder and announces them with
// "msgNewPodConnected"; an unmount of a recognised volume with "msgPodDisconnected".
// Volumes mounted at start are announced from threads of their own, later mounts and
// every unmount on the main thread, where the volume monitor reports.
class iPodDetector {
public:
    using PodMaker = std::function<std::shared_ptr<iMobileDevice>(const std::string& mountPath)>;

    iPodDetector(std::shared_ptr<volumes::VolumeMonitor> monitor, PodMaker maker);
    // Looks at the mounted volumes at once, then watches for changes (the system's, or only
    // through the monitor's rescan when `watchSystem` is false).
    void start(bool watchSystem = true);
    ~iPodDetector();

    // The volume holds "iPod_Control" as a folder.
    static bool IsPodDevicePath(const std::string& path);

    void OnNewPodMounted(const std::string& path);
    void OnPodUnMounted(const std::string& path);
    // Lets the announcements of volumes found at start finish.
    void waitForStartAnnouncements();

private:
    void CheckExistingMountedDevices();
    void NotifyForNewPod(const std::shared_ptr<iMobileDevice>& device);
    // Records a recognised, not yet known volume; nullptr when it is known or no iPod.
    std::shared_ptr<iMobileDevice> AddNewPodDevice(const std::string& path);

    std::shared_ptr<volumes::VolumeMonitor> monitor_;
    PodMaker maker_;
    std::mutex syncLock_;
    std::vector<std::string> allPodPaths_;
    std::vector<std::shared_ptr<iMobileDevice>> allPodDevices_;
    std::vector<std::thread> startThreads_;
};
