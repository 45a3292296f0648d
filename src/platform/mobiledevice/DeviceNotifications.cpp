// Attach and detach notices from the multiplexer, handed to the main thread.

#include <usbmuxd.h>

#include <atomic>
#include <map>

#include "foundation/MainQueue.h"
#include "platform/mobiledevice/AMDeviceHandle.h"
#include "platform/mobiledevice/MobileDevice.h"

namespace mobiledevice {

struct AMDeviceNotification {
    AMDeviceNotificationCallback callback = nullptr;
    void* context = nullptr;
    usbmuxd_subscription_context_t muxContext = nullptr;
    std::weak_ptr<AMDeviceNotification>* cookie = nullptr;
    std::atomic<bool> active{true};
    // Main thread only: the handle of every attached device, by multiplexer id.
    std::map<std::uint32_t, AMDeviceRef> attached;
};

namespace {

void deliver(const std::shared_ptr<AMDeviceNotification>& subscription, int event,
             const usbmuxd_device_info_t& info) {
    if (!subscription->active) return;
    AMDeviceNotificationCallbackInfo record;
    if (event == UE_DEVICE_ADD) {
        const std::uint32_t type =
            info.conn_type == CONNECTION_TYPE_NETWORK ? kAMDInterfaceWiFi : kAMDInterfaceUSB;
        record.device = std::make_shared<AMDeviceHandle>(info.udid, info.handle, type);
        record.msg = kADNCIMessageConnected;
        subscription->attached[info.handle] = record.device;
    } else if (event == UE_DEVICE_REMOVE) {
        auto found = subscription->attached.find(info.handle);
        if (found == subscription->attached.end()) return;
        record.device = found->second;
        record.msg = kADNCIMessageDisconnected;
        subscription->attached.erase(found);
    } else {
        return;
    }
    subscription->callback(&record, subscription->context);
}

void onMuxEvent(const usbmuxd_event_t* event, void* userData) {
    if (!event || !userData) return;
    std::weak_ptr<AMDeviceNotification> weak =
        *static_cast<std::weak_ptr<AMDeviceNotification>*>(userData);
    const int type = event->event;
    const usbmuxd_device_info_t info = event->device;
    foundation::MainQueue::async([weak, type, info] {
        if (auto subscription = weak.lock()) deliver(subscription, type, info);
    });
}

}  // namespace

AMDStatus AMDeviceNotificationSubscribe(AMDeviceNotificationCallback callback, std::uint32_t,
                                        std::uint32_t, void* context,
                                        AMDeviceNotificationRef* subscription) {
    if (!callback || !subscription) return kAMDInvalidArgumentError;
    auto made = std::make_shared<AMDeviceNotification>();
    made->callback = callback;
    made->context = context;
    made->cookie = new std::weak_ptr<AMDeviceNotification>(made);
    if (usbmuxd_events_subscribe(&made->muxContext, onMuxEvent, made->cookie) != 0) {
        delete made->cookie;
        made->cookie = nullptr;
        return kAMDMuxCreateListenerError;
    }
    *subscription = std::move(made);
    return kAMDSuccess;
}

AMDStatus AMDeviceNotificationUnsubscribe(const AMDeviceNotificationRef& subscription) {
    if (!subscription || !subscription->cookie) return kAMDInvalidArgumentError;
    subscription->active = false;
    // Returns once the multiplexer thread no longer calls back with the cookie.
    usbmuxd_events_unsubscribe(subscription->muxContext);
    subscription->muxContext = nullptr;
    delete subscription->cookie;
    subscription->cookie = nullptr;
    return kAMDSuccess;
}

}  // namespace mobiledevice
