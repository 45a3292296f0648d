// The notification proxy's listening loop against a device played by the test: a quiet
// device keeps it listening, relays reach the observers, and the device's end, a proxy
// death or a command it does not know ends it.
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "EndsInTime.h"
#include "SocketPair.h"
#include "device/AMNotificationProxy.h"
#include "foundation/PropertyList.h"

namespace {

using foundation::Value;
using namespace std::chrono_literals;

// Polls `done` until it holds or a generous limit passes.
bool within(const std::function<bool()>& done, std::chrono::milliseconds limit = 30s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

struct ProxyOnAPair {
    ProxyOnAPair() {
        int fds[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        proxy = AMNotificationProxy::withSocket(fds[0]);
        peer = fds[1];
        proxy->addObserverName(this, [this](const std::string& name) {
            std::lock_guard lock(mutex);
            names.push_back(name);
            arrived.notify_all();
        }, "com.apple.itunes-client.syncCancelRequest");
    }
    ~ProxyOnAPair() {
        proxy.reset();
        if (peer >= 0) ::close(peer);
    }
    void send(const Value& message) const {
        const auto bytes = devicetest::framedXml(message);
        EXPECT_EQ(::send(peer, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
    }
    void relay() const {
        send(Value::dict({{"Command", "RelayNotification"}, {"Name", "com.apple.itunes-client.syncCancelRequest"}}));
    }
    // Waits at most `limit` for the count of relays to reach `count`.
    bool relaysReach(std::size_t count, std::chrono::milliseconds limit = 30s) {
        std::unique_lock lock(mutex);
        return arrived.wait_for(lock, limit, [&] { return names.size() >= count; });
    }

    std::shared_ptr<AMNotificationProxy> proxy;
    int peer = -1;
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<std::string> names;
};

TEST(NotificationProxyLoop, AQuietDeviceKeepsItListening) {
    ProxyOnAPair device;
    ASSERT_TRUE(device.proxy->isListening());
    // Several read limits pass without a word from the device.
    EXPECT_FALSE(device.relaysReach(1, std::chrono::milliseconds(4 * AMNotificationProxy::kReadTimeoutMs)));
    EXPECT_TRUE(device.proxy->isListening());
    device.relay();
    EXPECT_TRUE(device.relaysReach(1));
    EXPECT_TRUE(device.proxy->isListening());
}

TEST(NotificationProxyLoop, ItEndsOnADeathAnUnknownCommandOrALostDevice) {
    const struct {
        const char* name;
        std::function<void(ProxyOnAPair&)> end;
    } cases[] = {
        {"proxy death", [](ProxyOnAPair& d) { d.send(Value::dict({{"Command", "ProxyDeath"}})); }},
        {"unknown command", [](ProxyOnAPair& d) { d.send(Value::dict({{"Command", "Rewind"}})); }},
        {"device gone", [](ProxyOnAPair& d) { ::shutdown(d.peer, SHUT_WR); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ProxyOnAPair device;
        device.relay();
        ASSERT_TRUE(device.relaysReach(1));
        c.end(device);
        EXPECT_TRUE(within([&] { return !device.proxy->isListening(); }));
        // Nothing is read after the end.
        if (std::string(c.name) != "device gone") device.relay();
        EXPECT_FALSE(device.relaysReach(2, std::chrono::milliseconds(2 * AMNotificationProxy::kReadTimeoutMs)));
    }
}

// Between messages a device may keep quiet for hours; in the middle of one, a device that
// holds the rest back longer than the reply limit has broken off, and listening ends.
TEST(NotificationProxyLoop, ADeviceThatBreaksOffAMessageEndsIt) {
    ProxyOnAPair device;
    device.proxy->setReplyTimeoutMs(300);
    const auto bytes =
        devicetest::framedXml(Value::dict({{"Command", "RelayNotification"}, {"Name", "x"}}));
    ASSERT_EQ(::send(device.peer, bytes.data(), bytes.size() / 2, MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size() / 2));
    EXPECT_TRUE(within([&] { return !device.proxy->isListening(); }));
    EXPECT_NE(device.proxy->lasterror().find("Reply was truncated"), std::string::npos);
}

// Requests to a proxy that stops reading fail once the device has taken nothing for the
// reply limit, instead of waiting for it for good.
TEST(NotificationProxyLoop, PostsToADeviceThatStopsReadingFail) {
    ProxyOnAPair device;
    device.proxy->setReplyTimeoutMs(300);
    const bool failed = devicetest::endsInTime(
        [&] {
            for (int i = 0; i < 1000000; ++i) {
                if (!device.proxy->postNotification("com.example.posted")) return true;
            }
            return false;
        },
        [&] { ::shutdown(device.peer, SHUT_RDWR); });
    EXPECT_TRUE(failed);
}

}  // namespace
