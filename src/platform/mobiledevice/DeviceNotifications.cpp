// Attach and detach notices from the multiplexer, handed to the main thread.
//
// The client library finds a multiplexer that starts after the subscription (or starts
// again) only where it watches the default socket's folder for the socket being created,
// and never at an address named by USBMUXD_SOCKET_ADDRESS. So a watcher of our own looks
// for the multiplexer every second, and subscribes to the library once it answers; when a
// multiplexer comes back (or another one takes the socket) and the library has reported
// nothing from it, the watcher subscribes anew, which makes the library connect again.

#include <usbmuxd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

#include "foundation/MainQueue.h"
#include "platform/mobiledevice/AMDeviceHandle.h"
#include "platform/mobiledevice/MobileDevice.h"
#include "platform/mobiledevice/MultiplexerPresence.h"

namespace mobiledevice {

namespace {
constexpr auto kLookEvery = std::chrono::seconds(1);
}  // namespace

struct AMDeviceNotification {
    AMDeviceNotificationCallback callback = nullptr;
    void* context = nullptr;
    std::weak_ptr<AMDeviceNotification>* cookie = nullptr;
    std::atomic<bool> active{true};
    std::atomic<std::uint64_t> arrivals{0};  // attach events from the library
    // Main thread only: the handle of every attached device, by multiplexer id.
    std::map<std::uint32_t, AMDeviceRef> attached;

    // The watcher, and the library subscription it holds (watcher thread only).
    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    std::thread watcher;
    usbmuxd_subscription_context_t muxContext = nullptr;

    ~AMDeviceNotification() { stopWatching(); }
    void watch();
    void stopWatching();
    void subscribeToLibrary();
    void unsubscribeFromLibrary();
};

namespace {

void deliver(const std::shared_ptr<AMDeviceNotification>& subscription, int event,
             const usbmuxd_device_info_t& info) {
    if (!subscription->active) return;
    AMDeviceNotificationCallbackInfo record;
    if (event == UE_DEVICE_ADD) {
        // A library subscribed anew reports the devices it already knows once more.
        if (subscription->attached.count(info.handle)) return;
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
    if (type == UE_DEVICE_ADD) {
        if (auto subscription = weak.lock()) ++subscription->arrivals;
    }
    foundation::MainQueue::async([weak, type, info] {
        if (auto subscription = weak.lock()) deliver(subscription, type, info);
    });
}

}  // namespace

void AMDeviceNotification::subscribeToLibrary() {
    if (usbmuxd_events_subscribe(&muxContext, onMuxEvent, cookie) != 0) muxContext = nullptr;
}

void AMDeviceNotification::unsubscribeFromLibrary() {
    // Returns once the library's thread no longer calls back with the cookie.
    if (muxContext) usbmuxd_events_unsubscribe(muxContext);
    muxContext = nullptr;
}

void AMDeviceNotification::watch() {
    MultiplexerPresence seen;
    bool awaitingReport = false;  // a multiplexer came (back): has the library reported it?
    std::uint64_t arrivalsWhenSeen = 0;
    std::unique_lock lock(mutex);
    while (!stopping) {
        lock.unlock();
        const MultiplexerPresence now = probeMultiplexer();
        if (!now.answers) {
            awaitingReport = false;
        } else if (!muxContext) {
            subscribeToLibrary();
        } else if (awaitingReport) {
            // A tick later: the library has not connected by itself, so it is made to.
            if (arrivals == arrivalsWhenSeen) {
                unsubscribeFromLibrary();
                subscribeToLibrary();
            }
            awaitingReport = false;
        } else if (now != seen) {
            awaitingReport = true;
            arrivalsWhenSeen = arrivals;
        }
        seen = now;
        lock.lock();
        wake.wait_for(lock, kLookEvery, [this] { return stopping; });
    }
    lock.unlock();
    unsubscribeFromLibrary();
}

void AMDeviceNotification::stopWatching() {
    {
        std::lock_guard lock(mutex);
        stopping = true;
    }
    wake.notify_all();
    // The watcher unsubscribes from the library as it ends.
    if (watcher.joinable()) watcher.join();
}

AMDStatus AMDeviceNotificationSubscribe(AMDeviceNotificationCallback callback, std::uint32_t,
                                        std::uint32_t, void* context,
                                        AMDeviceNotificationRef* subscription) {
    if (!callback || !subscription) return kAMDInvalidArgumentError;
    auto made = std::make_shared<AMDeviceNotification>();
    made->callback = callback;
    made->context = context;
    made->cookie = new std::weak_ptr<AMDeviceNotification>(made);
    try {
        made->watcher = std::thread([raw = made.get()] { raw->watch(); });
    } catch (const std::system_error&) {
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
    subscription->stopWatching();
    delete subscription->cookie;
    subscription->cookie = nullptr;
    return kAMDSuccess;
}

}  // namespace mobiledevice
