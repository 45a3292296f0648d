#include "device/MobileDeviceHub.h"

#include <glib.h>

#include <algorithm>
#include <cassert>
#include <cstdlib>

#include "device/AMDevice.h"
#include "foundation/MainQueue.h"
#include "logging/LogCall.h"

namespace md = mobiledevice;

namespace {

std::atomic<bool> enableWifiConnection{false};

void notificationCallback(const md::AMDeviceNotificationCallbackInfo* info, void* context) {
    if (info && context) static_cast<MobileDeviceHub*>(context)->Notify(*info);
}

// Companion proxies are skipped unless the device behind them is attached over USB.
bool skipsCompanion(const md::AMDeviceRef& device) {
    return get_companion_interface_type(device) != md::kAMDInterfaceUSB;
}

}  // namespace

MobileDeviceHub& MobileDeviceHub::singleton() {
    static MobileDeviceHub instance;  // made once, thread-safely, on first use
    return instance;
}

MobileDeviceHub::MobileDeviceHub() {
    terminateObserver_ = foundation::NotificationCenter::defaultCenter().addObserver(
        kApplicationWillTerminateNotification, nullptr,
        [this](const foundation::Notification& notice) {
            const auto* finishing =
                notice.get<std::shared_ptr<foundation::DispatchGroup>>(kWillTerminateFinishing);
            applicationWillTerminate(finishing ? *finishing : nullptr);
        });
}

MobileDeviceHub::~MobileDeviceHub() {
    alive_.reset();
    foundation::NotificationCenter::defaultCenter().removeObserver(terminateObserver_);
    if (subscribed_) md::AMDeviceNotificationUnsubscribe(notification_);
    stopRunLoop_ = true;
}

bool MobileDeviceHub::setListener(std::shared_ptr<MobileDeviceHubListener> listener) {
    listener_ = std::move(listener);
    if (listener_ && !subscribed_) {
        md::AMDStatus status =
            md::AMDeviceNotificationSubscribe(notificationCallback, 0, 0, this, &notification_);
        if (status == 0) {
            subscribed_ = true;
        } else {
            LogInfo("AMDeviceNotificationSubscribe failed: {}", static_cast<std::int32_t>(status));
        }
    }
    return true;
}

void MobileDeviceHub::stopListening() {
    if (!listener_) return;
    if (subscribed_) {
        md::AMDeviceNotificationUnsubscribe(notification_);
        notification_.reset();
        subscribed_ = false;
    }
    listener_.reset();
}

void MobileDeviceHub::detachDevice(const std::shared_ptr<AMDevice>& device) {
    std::erase(devices_, device);
}

void MobileDeviceHub::applicationWillTerminate(
    const std::shared_ptr<foundation::DispatchGroup>& finishing) {
    for (const auto& device : devices_) {
        if (!finishing) {
            device->applicationWillTerminate();
            continue;
        }
        // Ending a session is a request the device may take long to answer.
        finishing->enter();
        makers_.addOperation([device, finishing] {
            device->applicationWillTerminate();
            finishing->leave();
        });
    }
}

bool MobileDeviceHub::waitForConnection() {
    if (!subscribed_) return false;
    LogInfo("calling CFRunLoopRun(), plug iPod in now!!!");
    waitingInRunLoop_ = true;
    stopRunLoop_ = false;
    while (!stopRunLoop_) g_main_context_iteration(g_main_context_default(), TRUE);
    waitingInRunLoop_ = false;
    LogInfo("back from calling CFRunLoopRun()");
    return true;
}

std::string MobileDeviceHub::clientVersion() const {
    return md::AFCGetClientVersionString();
}

void MobileDeviceHub::Notify(const md::AMDeviceNotificationCallbackInfo& info) {
    switch (info.msg) {
        case md::kADNCIMessageConnected: {
            const std::uint32_t type = md::AMDeviceGetInterfaceType(info.device);
            const bool skip =
                !wifiConnectionEnabled() &&
                (type == md::kAMDInterfaceWiFi ||
                 (type == md::kAMDInterfaceCompanionProxy && skipsCompanion(info.device)));
            if (skip) {
                LogInfo("Skipping wifi device (type={})", type);
                break;
            }
            LogInfo("Handling device type: {}", type);
            // The device is made off the main thread: a wait for a connection ends once it
            // has been listed or given up (arrived()).
            arrive(info.device);
            return;
        }
        case md::kADNCIMessageDisconnected: {
            for (auto& pending : pending_) {
                if (pending.handle == info.device) pending.detached = true;
            }
            std::shared_ptr<AMDevice> leaving;
            for (const auto& device : devices_) {
                if (device->isDevice(info.device)) {
                    leaving = device;
                    break;
                }
            }
            if (!leaving) break;
            // The listener hears of it while the device is still listed; it leaves the list
            // after that (the listener may have detached it already).
            leaving->forgetDevice();
            if (auto listener = listener_) listener->deviceDisconnected(leaving);
            std::erase(devices_, leaving);
            break;
        }
        case md::kADNCIMessageUnsubscribed:
            return;
        default:
            LogInfo("Ignoring unknown message: {}", info.msg);
            return;
    }
    if (waitingInRunLoop_) stopRunLoop_ = true;
}

void MobileDeviceHub::arrive(const md::AMDeviceRef& handle) {
    pending_.push_back({handle, false});
    makers_.addOperation([handle, alive = std::weak_ptr<MobileDeviceHub*>(alive_)] {
        std::shared_ptr<AMDevice> device = AMDevice::deviceFrom(handle);
        foundation::MainQueue::async([handle, alive, device = std::move(device)]() mutable {
            if (auto hub = alive.lock()) (*hub)->arrived(handle, std::move(device));
        });
    });
}

void MobileDeviceHub::arrived(const md::AMDeviceRef& handle, std::shared_ptr<AMDevice> device) {
    const auto found = std::find_if(pending_.begin(), pending_.end(),
                                    [&](const Pending& p) { return p.handle == handle; });
    if (found == pending_.end()) return;
    const bool detached = found->detached;
    pending_.erase(found);
    // deviceFrom() has logged why a device could not be made.
    if (device && !detached) {
        devices_.push_back(device);
        if (auto listener = listener_) listener->deviceConnected(device);
    }
    if (waitingInRunLoop_) stopRunLoop_ = true;
}

bool MobileDeviceHub::wifiConnectionEnabled() {
    return enableWifiConnection;
}

void MobileDeviceHub::enableWiFiConnection(bool enable) {
    enableWifiConnection = enable;
}

std::string get_device_interface_name(const md::AMDeviceRef& device) {
    switch (md::AMDeviceGetInterfaceType(device)) {
        case md::kAMDInterfaceUSB:
            return "USB";
        case md::kAMDInterfaceWiFi:
            return "WIFI";
        case md::kAMDInterfaceCompanionProxy:
            return get_companion_interface_type(device) == md::kAMDInterfaceUSB
                       ? "USB Companion proxy"
                       : "WIFI Companion proxy";
        default:
            return "Unknown Connection";
    }
}

std::uint32_t get_companion_interface_type(const md::AMDeviceRef& device) {
    if (md::AMDeviceGetInterfaceType(device) != md::kAMDInterfaceCompanionProxy) {
        LogError("assertion failed: AMDeviceGetInterfaceType(device) == 3");
        std::abort();
    }
    md::AMDeviceRef companion = md::AMDeviceCopyPairedCompanion(device);
    const std::uint32_t type = md::AMDeviceGetInterfaceType(companion);
    md::AMDeviceRelease(companion);
    return type;
}
