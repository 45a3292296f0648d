#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device/AMService.h"
#include "platform/mobiledevice/NotificationProxyCalls.h"

// The device's notification proxy: observers of named device notifications, called on a
// listening thread of the proxy's own (or the mobile-device layer's listener, once handed
// over), and posting notifications to the device.
class AMNotificationProxy : public AMService {
public:
    static constexpr const char* kServiceName = "com.apple.mobile.notification_proxy";
    static constexpr unsigned int kReadTimeoutMs = 500;
    static constexpr unsigned int kShutdownTimeoutMs = 3000;
    // Called with the notification's name.
    using Handler = std::function<void(const std::string& name)>;

    // Starts the service and listens; a proxy whose service did not start is still made.
    static std::shared_ptr<AMNotificationProxy> create(const std::shared_ptr<AMDevice>& device);
    static std::shared_ptr<AMNotificationProxy> withSocket(int socket);
    ~AMNotificationProxy() override;

    // Starts the listening thread and returns once it runs.
    bool startListening();
    // Ends listening, on either path, and tells the device to shut the proxy down.
    void stopListening();
    void unsubscribe() { stopListening(); }
    bool isListening() const;
    // Hands listening to the mobile-device layer's listener, which calls the observers on its
    // own thread. A socket has one reader, so the proxy's loop ends first, without a shutdown.
    bool amdListenForNotifications();

    // The observer (any address that identifies it) is registered once per name; the
    // device is asked to relay a name when its first observer arrives.
    bool addObserverName(const void* observer, Handler handler, const std::string& name);
    void removeObserverName(const void* observer, const std::string& name);
    void removeObserver(const void* observer);
    bool postNotification(const std::string& name);

private:
    struct Registration {
        const void* observer;
        Handler handler;
    };
    void listenLoop();
    // One message of the device, on a plain or a secure connection. Every wait is bounded,
    // so that a stop is heard even while the device sits on half a message; `code` is then
    // kStopped, kBrokenOff when the device held the rest back beyond the reply limit, else
    // as for readXMLReplyTimeoutReturnCode.
    foundation::Value readMessage(int* code);
    // Exactly `length` bytes, or a negative status; `started` when part of a message came.
    long receivePiece(std::uint8_t* bytes, std::size_t length, bool started);
    bool stopRequested() const;
    static constexpr int kStopped = -1;
    static constexpr int kBrokenOff = -3;
    // Ends the proxy's own loop; false when it was not running.
    bool endListenLoop();
    // Ends the mobile-device layer's listener; false when it was not listening.
    bool endAmdListener();
    void notifyObservers(const std::string& name);
    static void relayNotification(const std::string& name, void* proxy);

    std::mutex messagesMutex_;
    std::map<std::string, std::vector<Registration>> messages_;

    // The lock on the proxy: the listening flags and the thread.
    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::thread thread_;
    bool listening_ = false;
    bool stopListening_ = false;
    // Set when a stop left part of a message unread.
    std::atomic<bool> outOfStep_ = false;
    mobiledevice::AMDNotificationListenerRef amdListener_;
};
