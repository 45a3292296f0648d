// The notification proxy's relayed notifications, read on a thread of the listener's own.

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "foundation/PropertyList.h"
#include "platform/mobiledevice/ConnectionFraming.h"
#include "platform/mobiledevice/NotificationProxyCalls.h"

namespace mobiledevice {

namespace {

// What the listening thread shares with its handle; it outlives a detached thread's handle.
struct ListenerState {
    ListenerState(int socket, AMDNotificationCallback callback, void* context, int wake)
        : socket(socket), callback(callback), context(context), wake(wake) {}
    ~ListenerState() { ::close(wake); }
    ListenerState(const ListenerState&) = delete;
    ListenerState& operator=(const ListenerState&) = delete;

    const int socket;
    const AMDNotificationCallback callback;
    void* const context;
    const int wake;  // an eventfd, readable once listening is to stop
    std::atomic<bool> stopping{false};
    std::atomic<bool> listening{true};
};

// Waits until the socket has bytes or listening is to stop; false for the latter.
bool waitForBytes(const ListenerState& state) {
    pollfd entries[2] = {{state.wake, POLLIN, 0}, {state.socket, POLLIN, 0}};
    for (;;) {
        const int ready = ::poll(entries, 2, -1);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0 || entries[0].revents != 0 || state.stopping) return false;
        if (entries[1].revents != 0) return true;
    }
}

// Reads exactly the length asked for; false on stop, end of connection or failure.
bool readExactly(const ListenerState& state, std::uint8_t* bytes, std::size_t length) {
    while (length > 0) {
        if (!waitForBytes(state)) return false;
        const ssize_t count = ::recv(state.socket, bytes, length, 0);
        if (count < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (count <= 0) return false;
        bytes += count;
        length -= static_cast<std::size_t>(count);
    }
    return true;
}

// The next framed message's bytes; false when the framing can no longer be followed.
bool readMessage(const ListenerState& state, std::vector<std::uint8_t>* body) {
    std::uint8_t prefix[4];
    if (!readExactly(state, prefix, sizeof prefix)) return false;
    const std::uint32_t length = (std::uint32_t{prefix[0]} << 24) |
                                 (std::uint32_t{prefix[1]} << 16) |
                                 (std::uint32_t{prefix[2]} << 8) | prefix[3];
    if (length > kMaxMessageLength) return false;
    body->resize(length);
    return readExactly(state, body->data(), length);
}

void listen(const std::shared_ptr<ListenerState>& state) {
    std::vector<std::uint8_t> body;
    while (readMessage(*state, &body)) {
        // A message that does not decode still kept its framing: skip it.
        const auto message = foundation::plist::read(body);
        if (!message || !message->isDictionary()) continue;
        const std::string command = (*message)["Command"].stringOr();
        if (command == "ProxyDeath") break;
        const std::string name = (*message)["Name"].stringOr();
        if (command != "RelayNotification" || name.empty()) continue;
        if (state->stopping) break;
        try {
            state->callback(name, state->context);
        } catch (...) {
            // A failing callback is the caller's; the thread keeps listening.
        }
    }
    state->listening = false;
}

}  // namespace

struct AMDNotificationListener {
    std::shared_ptr<ListenerState> state;
    std::thread thread;
    std::mutex stopMutex;

    ~AMDNotificationListener() { stop(); }

    void stop() {
        std::thread ending;
        {
            // Not held while joining: the callback may stop the listener too.
            std::lock_guard lock(stopMutex);
            if (!thread.joinable()) return;
            ending = std::move(thread);
            state->stopping = true;
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t written = ::write(state->wake, &one, sizeof one);
        }
        // From the callback itself the thread ends once the callback returns.
        if (ending.get_id() == std::this_thread::get_id()) {
            ending.detach();
        } else {
            ending.join();
        }
    }
};

AMDStatus AMDListenForNotifications(int socket, AMDNotificationCallback callback, void* context,
                                    AMDNotificationListenerRef* listener) {
    if (socket < 0 || !callback || !listener) return kAMDInvalidArgumentError;
    const int wake = ::eventfd(0, EFD_CLOEXEC);
    if (wake < 0) return kAMDNoResourcesError;
    auto made = std::make_shared<AMDNotificationListener>();
    made->state = std::make_shared<ListenerState>(socket, callback, context, wake);
    try {
        made->thread = std::thread([state = made->state] { listen(state); });
    } catch (const std::system_error&) {
        return kAMDNoResourcesError;
    }
    *listener = std::move(made);
    return kAMDSuccess;
}

AMDStatus AMDStopListeningForNotifications(const AMDNotificationListenerRef& listener) {
    if (!listener) return kAMDInvalidArgumentError;
    listener->stop();
    return kAMDSuccess;
}

bool AMDNotificationListenerIsListening(const AMDNotificationListenerRef& listener) {
    return listener && !listener->state->stopping && listener->state->listening;
}

}  // namespace mobiledevice
