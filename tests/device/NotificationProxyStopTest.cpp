#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <thread>

#include "SocketPair.h"
#include "device/AMNotificationProxy.h"

namespace {

// Ends `stop` within a generous bound; false when it never returned (it is then left
// running, blocked, and the peer's closing frees it).
bool endsInTime(std::function<void()> stop) {
    auto done = std::make_shared<std::promise<void>>();
    auto ended = done->get_future();
    std::thread([stop = std::move(stop), done] {
        stop();
        done->set_value();
    }).detach();
    return ended.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
}

// The device sends a length and part of the message, then nothing more.
struct HalfMessageDevice {
    HalfMessageDevice() {
        int fds[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        proxy = AMNotificationProxy::withSocket(fds[0]);
        peer = fds[1];
        auto bytes = devicetest::lengthPrefix(100);
        bytes.insert(bytes.end(), 10, '<');
        EXPECT_EQ(::send(peer, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
    }
    ~HalfMessageDevice() { ::close(peer); }
    std::shared_ptr<AMNotificationProxy> proxy;
    int peer = -1;
};

TEST(NotificationProxy, StoppingEndsAReadLeftHalfWay) {
    {
        HalfMessageDevice device;
        ASSERT_TRUE(device.proxy->isListening());
        EXPECT_TRUE(endsInTime([proxy = device.proxy] { proxy->stopListening(); }));
        EXPECT_FALSE(device.proxy->isListening());
    }
    {
        HalfMessageDevice device;
        auto proxy = std::move(device.proxy);
        EXPECT_TRUE(endsInTime([proxy = std::move(proxy)]() mutable { proxy.reset(); }));
    }
}

}  // namespace
