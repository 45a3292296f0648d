#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/DispatchGroup.h"
#include "foundation/NotificationCenter.h"
#include "foundation/OperationQueue.h"
#include "platform/mobiledevice/MobileDevice.h"
#include "shell/ShellNotifications.h"

class AMDevice;


// Told of arrivals and departures; both messages are optional.
class MobileDeviceHubListener {
public:
    virtual ~MobileDeviceHubListener() = default;
    virtual void deviceConnected(const std::shared_ptr<AMDevice>& /*device*/) {}
    virtual void deviceDisconnected(const std::shared_ptr<AMDevice>& /*device*/) {}
};

// The entry point to the mobile-device framework: subscribes to attach and detach notices,
// makes an AMDevice for each attached device and tells its one listener. The notices, the
// device list and the listener calls all run on the main thread; making a device talks to
// it (and a device may take long to answer), so that runs on a worker of the hub's own and
// the device is listed, and the listener told, back on the main thread. A device that
// leaves while it is being made is never listed.
class MobileDeviceHub {
public:
    static MobileDeviceHub& singleton();

    MobileDeviceHub();
    ~MobileDeviceHub();
    MobileDeviceHub(const MobileDeviceHub&) = delete;
    MobileDeviceHub& operator=(const MobileDeviceHub&) = delete;

    // Stores the listener and subscribes once; a failed subscription is retried by the
    // next call. Always true.
    bool setListener(std::shared_ptr<MobileDeviceHubListener> listener);
    void stopListening();
    const std::vector<std::shared_ptr<AMDevice>>& devices() const { return devices_; }
    void detachDevice(const std::shared_ptr<AMDevice>& device);
    // Every listed device ends its session and connection: on the hub's workers, counted in
    // `finishing`, when one is given (the application's quit: a device busy with a request,
    // or slow to answer, does not hold the main thread); else here.
    void applicationWillTerminate(
        const std::shared_ptr<foundation::DispatchGroup>& finishing = {});
    // Runs the main loop until the next attach or detach notice; false when unsubscribed.
    bool waitForConnection();
    std::string clientVersion() const;
    void Notify(const mobiledevice::AMDeviceNotificationCallbackInfo& info);
    // Devices being made, not yet listed.
    std::size_t pendingCount() const { return pending_.size(); }

    static bool wifiConnectionEnabled();
    static void enableWiFiConnection(bool enable);

private:
    struct Pending {
        mobiledevice::AMDeviceRef handle;
        bool detached = false;
    };
    void arrive(const mobiledevice::AMDeviceRef& handle);
    void arrived(const mobiledevice::AMDeviceRef& handle, std::shared_ptr<AMDevice> device);

    std::shared_ptr<MobileDeviceHubListener> listener_;
    bool subscribed_ = false;
    mobiledevice::AMDeviceNotificationRef notification_;
    std::vector<std::shared_ptr<AMDevice>> devices_;
    bool waitingInRunLoop_ = false;
    bool stopRunLoop_ = false;
    foundation::NotificationCenter::ObserverId terminateObserver_ = 0;
    std::vector<Pending> pending_;
    // Reaches the hub from the workers' hops to the main thread, while it lives.
    std::shared_ptr<MobileDeviceHub*> alive_ = std::make_shared<MobileDeviceHub*>(this);
    // Last: its destructor lets the devices being made finish first.
    foundation::OperationQueue makers_{"MobileDeviceHub", 64};
};

// "USB", "WIFI", "USB Companion proxy", "WIFI Companion proxy" or "Unknown Connection".
std::string get_device_interface_name(const mobiledevice::AMDeviceRef& device);
// The interface type of a companion proxy's paired device; only for type 3 handles.
std::uint32_t get_companion_interface_type(const mobiledevice::AMDeviceRef& device);
