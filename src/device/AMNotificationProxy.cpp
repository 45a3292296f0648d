#include "device/AMNotificationProxy.h"

#include <algorithm>
#include <chrono>

#include <fmt/format.h>

#include "device/AMDevice.h"
#include "device/SocketCheck.h"
#include "foundation/Json.h"
#include "foundation/PropertyList.h"
#include "logging/LogCall.h"
#include "platform/mobiledevice/NotificationProxyCalls.h"

using foundation::Value;

std::shared_ptr<AMNotificationProxy> AMNotificationProxy::create(
    const std::shared_ptr<AMDevice>& device) {
    auto proxy = std::make_shared<AMNotificationProxy>();
    if (proxy->startOnDevice(kServiceName, device)) {
        proxy->startListening();
    } else {
        LogInfo("Failed to start notification proxy on: {}", device ? device->udid() : "");
    }
    return proxy;
}

std::shared_ptr<AMNotificationProxy> AMNotificationProxy::withSocket(int socket) {
    auto proxy = std::make_shared<AMNotificationProxy>();
    proxy->adoptSocket(socket, kServiceName);
    proxy->startListening();
    return proxy;
}

AMNotificationProxy::~AMNotificationProxy() {
    stopListening();
    if (!thread_.joinable()) return;
    if (thread_.get_id() == std::this_thread::get_id()) {
        thread_.detach();
    } else {
        thread_.join();
    }
}

bool AMNotificationProxy::isListening() const {
    std::lock_guard lock(lock_);
    return listening_ || mobiledevice::AMDNotificationListenerIsListening(amdListener_);
}

bool AMNotificationProxy::startListening() {
    endAmdListener();
    std::unique_lock lock(lock_);
    if (listening_) return true;
    if (thread_.joinable()) {
        // A loop that ended on its own: collect it before starting another.
        lock.unlock();
        thread_.join();
        lock.lock();
    }
    stopListening_ = false;
    listening_ = true;
    thread_ = std::thread([this] { listenLoop(); });
    changed_.notify_all();
    return true;
}

void AMNotificationProxy::stopListening() {
    const bool loopEnded = endListenLoop();
    const bool listenerEnded = endAmdListener();
    if (!loopEnded && !listenerEnded) return;
    // Left in the middle of a message, the stream no longer frames replies.
    if (isValidService() && !outOfStep_) {
        sendXMLRequest(Value::dict({{"Command", "Shutdown"}}));
        int code = 0;
        const Value reply = readXMLReplyTimeoutReturnCode(kShutdownTimeoutMs, &code);
        LogInfo("read notification reply: {}", reply.isNil() ? "nil" : "YES");
    }
    std::lock_guard lock(lock_);
    listening_ = false;
}

bool AMNotificationProxy::endListenLoop() {
    std::unique_lock lock(lock_);
    if (!listening_) return false;
    stopListening_ = true;
    changed_.notify_all();
    const bool fromLoop = thread_.get_id() == std::this_thread::get_id();
    if (!fromLoop) {
        changed_.wait(lock, [this] { return !listening_; });
    }
    lock.unlock();
    if (fromLoop) {
        thread_.detach();
    } else if (thread_.joinable()) {
        thread_.join();
    }
    return true;
}

bool AMNotificationProxy::endAmdListener() {
    mobiledevice::AMDNotificationListenerRef listener;
    {
        std::lock_guard lock(lock_);
        listener = std::move(amdListener_);
    }
    if (!listener) return false;
    // Not under the lock: an observer being called may ask whether the proxy listens.
    const bool wasListening = mobiledevice::AMDNotificationListenerIsListening(listener);
    mobiledevice::AMDStopListeningForNotifications(listener);
    return wasListening;
}

bool AMNotificationProxy::amdListenForNotifications() {
    endListenLoop();
    std::lock_guard lock(lock_);
    if (mobiledevice::AMDNotificationListenerIsListening(amdListener_)) return true;
    mobiledevice::AMDNotificationListenerRef listener;
    if (mobiledevice::AMDStatus status = mobiledevice::AMDListenForNotifications(
            sock(), &AMNotificationProxy::relayNotification, this, &listener)) {
        LogInfo("AMDListenForNotifications returned {}", static_cast<std::int32_t>(status));
        return false;
    }
    amdListener_ = std::move(listener);
    return true;
}

void AMNotificationProxy::relayNotification(const std::string& name, void* proxy) {
    try {
        static_cast<AMNotificationProxy*>(proxy)->notifyObservers(name);
    } catch (...) {
        LogInfo("observers of {} failed", name);
    }
}

bool AMNotificationProxy::stopRequested() const {
    std::lock_guard lock(lock_);
    return stopListening_;
}

long AMNotificationProxy::receivePiece(std::uint8_t* bytes, std::size_t length, bool started) {
    using Clock = std::chrono::steady_clock;
    auto lastBytes = Clock::now();
    std::size_t got = 0;
    while (got < length) {
        const long count = receive(bytes + got, length - got, kReadTimeoutMs);
        if (count > 0) {
            got += static_cast<std::size_t>(count);
            started = true;
            lastBytes = Clock::now();
            continue;
        }
        if (count != kSocketTimedOut) return count == 0 ? kSocketPeerClosed : count;
        // Nothing came in time: before a message that is a quiet device, within one the
        // device holds back the rest, and a stop must still be heard.
        if (!started) return kSocketTimedOut;
        if (stopRequested()) {
            outOfStep_ = true;
            return kStopped;
        }
        // A device that holds the rest back for longer has broken off.
        if (Clock::now() - lastBytes >= std::chrono::milliseconds(replyTimeoutMs())) {
            LogInfo("socket time out");
            setLasterror(fmt::format("Reply was truncated, expected {} more bytes", length - got));
            outOfStep_ = true;
            return kBrokenOff;
        }
    }
    return static_cast<long>(got);
}

Value AMNotificationProxy::readMessage(int* code) {
    *code = 0;
    std::uint8_t prefix[4];
    long count = receivePiece(prefix, sizeof prefix, false);
    if (count < 0) {
        *code = static_cast<int>(count);
        return {};
    }
    const std::uint32_t length = (std::uint32_t{prefix[0]} << 24) | (std::uint32_t{prefix[1]} << 16) |
                                 (std::uint32_t{prefix[2]} << 8) | prefix[3];
    if (length == 0 || length > kMaxPacketLength) {
        setLasterror("Failed to decode XML reply");
        return {};
    }
    foundation::Data payload(length);
    count = receivePiece(payload.data(), payload.size(), true);
    if (count < 0) {
        *code = static_cast<int>(count);
        return {};
    }
    std::string error;
    auto message = foundation::plist::read(payload, &error);
    if (!message) {
        setLasterror(error.empty() ? "Failed to decode XML reply" : error);
        return {};
    }
    return std::move(*message);
}

void AMNotificationProxy::listenLoop() {
    for (;;) {
        int code = 0;
        const Value reply = readMessage(&code);
        if (code != 0 && code != kSocketTimedOut) break;
        if (reply.isDictionary()) {
            const std::string command = reply["Command"].stringOr();
            const std::string name = reply["Name"].stringOr();
            if (command == "RelayNotification") {
                if (!name.empty()) notifyObservers(name);
            } else if (command == "ProxyDeath") {
                LogInfo("{} NotificationProxy died!", kServiceName);
                break;
            } else {
                LogInfo("{} Unknown NotificationProxy command: '{}' received!", kServiceName,
                        command);
                break;
            }
        } else if (code == 0) {
            LogDebug("{} no notification received.", kServiceName);
        }
        std::unique_lock lock(lock_);
        if (stopListening_) break;
        // A relayed notification is followed by a pause; a stop ends it at once.
        if (!reply.isNil() && changed_.wait_for(lock, std::chrono::milliseconds(kReadTimeoutMs),
                                                [this] { return stopListening_; })) {
            break;
        }
    }
    std::lock_guard lock(lock_);
    listening_ = false;
    changed_.notify_all();
}

void AMNotificationProxy::notifyObservers(const std::string& name) {
    std::vector<Registration> observers;
    {
        std::lock_guard lock(messagesMutex_);
        auto found = messages_.find(name);
        if (found != messages_.end()) observers = found->second;
    }
    for (const auto& registration : observers) {
        try {
            registration.handler(name);
        } catch (const std::exception& error) {
            LogInfo("observer of {} failed: {}", name, error.what());
        } catch (...) {
            LogInfo("observer of {} failed", name);
        }
    }
}

bool AMNotificationProxy::addObserverName(const void* observer, Handler handler,
                                          const std::string& name) {
    if (!handler) {
        LogInfo("observer of {} has no handler", name);
        return false;
    }
    std::lock_guard lock(messagesMutex_);
    auto found = messages_.find(name);
    if (found == messages_.end()) {
        if (mobiledevice::AMDStatus status =
                mobiledevice::AMDObserveNotification(sock(), name, replyTimeoutMs())) {
            LogInfo("AMDObserveNotification returned {}", static_cast<std::int32_t>(status));
        }
        found = messages_.emplace(name, std::vector<Registration>{}).first;
    }
    auto& registrations = found->second;
    const bool known = std::any_of(registrations.begin(), registrations.end(),
                                   [&](const Registration& r) { return r.observer == observer; });
    if (!known) registrations.push_back({observer, std::move(handler)});
    return !known;
}

void AMNotificationProxy::removeObserverName(const void* observer, const std::string& name) {
    std::lock_guard lock(messagesMutex_);
    auto found = messages_.find(name);
    if (found == messages_.end()) return;
    auto& registrations = found->second;
    auto first = std::find_if(registrations.begin(), registrations.end(),
                              [&](const Registration& r) { return r.observer == observer; });
    if (first != registrations.end()) registrations.erase(first);
}

void AMNotificationProxy::removeObserver(const void* observer) {
    std::vector<std::string> names;
    {
        std::lock_guard lock(messagesMutex_);
        for (const auto& entry : messages_) names.push_back(entry.first);
    }
    for (const auto& name : names) removeObserverName(observer, name);
}

bool AMNotificationProxy::postNotification(const std::string& name) {
    return mobiledevice::AMDPostNotification(sock(), name, {}, replyTimeoutMs()) == 0;
}
