#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <stdexcept>

#include "SocketPair.h"
#include "foundation/PropertyList.h"
#include "platform/mobiledevice/NotificationProxyCalls.h"

using devicetest::lengthPrefix;
using devicetest::SocketPair;
using foundation::Value;
using testing::ElementsAre;

namespace {

std::vector<std::uint8_t> framedBytes(const std::string& body) {
    std::vector<std::uint8_t> bytes(body.begin(), body.end());
    const auto prefix = lengthPrefix(static_cast<std::uint32_t>(body.size()));
    bytes.insert(bytes.begin(), prefix.begin(), prefix.end());
    return bytes;
}

std::vector<std::uint8_t> framed(const Value& message) {
    return framedBytes(*foundation::plist::writeXml(message));
}
std::vector<std::uint8_t> relay(const std::string& name) {
    return framed(Value::dict({{"Command", "RelayNotification"}, {"Name", name}}));
}

// Names the callback got; it throws after each, which must not end the listening.
struct Calls {
    static void callback(const std::string& name, void* context) {
        auto* calls = static_cast<Calls*>(context);
        std::lock_guard lock(calls->mutex);
        calls->names.push_back(name);
        calls->changed.notify_all();
        throw std::runtime_error("callback failed");
    }
    std::vector<std::string> waitFor(std::size_t count) {
        std::unique_lock lock(mutex);
        changed.wait_for(lock, std::chrono::seconds(30), [&] { return names.size() >= count; });
        return names;
    }
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> names;
};

TEST(NotificationListener, RelaysNamesUntilTheProxyEndsOrTheFramingIsLost) {
    const struct {
        const char* name;
        std::vector<std::uint8_t> end;
    } cases[] = {{"proxy death", framed(Value::dict({{"Command", "ProxyDeath"}}))},
                 {"oversized length", lengthPrefix(0xffffffffu)}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SocketPair pair;
        // Messages that relay nothing are passed over; nothing is read after the end.
        for (const auto& bytes : {relay("first"), framed(Value::dict({{"Command", "Unknown"}})),
                                  framedBytes("<plist>"), framed(Value::list({"Relay"})), relay(""),
                                  relay("second"), c.end, relay("after the end")}) {
            pair.writePeer(bytes);
        }
        Calls calls;
        mobiledevice::AMDNotificationListenerRef listener;
        ASSERT_EQ(mobiledevice::AMDListenForNotifications(pair.service->sock(), &Calls::callback,
                                                          &calls, &listener),
                  mobiledevice::kAMDSuccess);
        EXPECT_THAT(calls.waitFor(2), ElementsAre("first", "second"));
        mobiledevice::AMDStopListeningForNotifications(listener);
        EXPECT_THAT(calls.names, ElementsAre("first", "second"));
        EXPECT_FALSE(mobiledevice::AMDNotificationListenerIsListening(listener));
    }
}

}  // namespace
