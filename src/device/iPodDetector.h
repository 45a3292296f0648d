#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/SerialQueue.h"
#include "platform/volumes/VolumeMonitor.h"

class iMobileDevice;
class iPodDevice;

// Recognises mounted volumes that hold an iPod control folder and announces them with
// "msgNewPodConnected"; an unmount of a recognised volume with "msgPodDisconnected".
// Every announcement goes out from one queue of the detector's own, in the order the volume
// monitor reported, so that the main thread (where the monitor reports) never waits for a
// volume: a new iPod's name is read there before it is announced, and a hostile volume can
// take its time.
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
    // A new device for the volume, through the maker; every volume found here is in disk
    // mode, so the flag changes nothing.
    std::shared_ptr<iMobileDevice> CreateIPodDeviceAtPath(const std::string& path, bool diskMode);

    void OnNewPodMounted(const std::string& path);
    void OnPodUnMounted(const std::string& path);
    // Lets the announcements made so far go out.
    void waitForAnnouncements();

private:
    void CheckExistingMountedDevices();
    void NotifyForNewPod(const std::shared_ptr<iMobileDevice>& device);
    bool isKnown(const std::shared_ptr<iMobileDevice>& device);
    // Records a recognised, not yet known volume; nullptr when it is known or no iPod.
    std::shared_ptr<iMobileDevice> AddNewPodDevice(const std::string& path);

    std::shared_ptr<volumes::VolumeMonitor> monitor_;
    PodMaker maker_;
    std::mutex syncLock_;
    std::vector<std::string> allPodPaths_;
    std::vector<std::shared_ptr<iMobileDevice>> allPodDevices_;
    // Last member: it is drained and joined first when the detector goes.
    foundation::SerialQueue announcements_{"iPodDetector"};
};
