#include "foundation/NotificationCenter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace foundation {
namespace {

using namespace std::chrono_literals;

TEST(NotificationCenter, DeliversByNameAndSenderInRegistrationOrder) {
    NotificationCenter center;
    const int deviceA = 0;
    const int deviceB = 0;
    std::vector<std::string> calls;
    center.addObserver("DeviceAdded", &deviceA, [&](const Notification&) { calls.push_back("A"); });
    center.addObserver("DeviceAdded", nullptr,
                       [&](const Notification&) { calls.push_back("any"); });
    center.addObserver("", nullptr,
                       [&](const Notification& n) { calls.push_back("all:" + n.name); });
    center.addObserver("DeviceRemoved", nullptr,
                       [&](const Notification&) { calls.push_back("rm"); });

    center.post("DeviceAdded", &deviceA);
    EXPECT_EQ(calls, (std::vector<std::string>{"A", "any", "all:DeviceAdded"}));
    calls.clear();
    center.post("DeviceAdded", &deviceB);
    EXPECT_EQ(calls, (std::vector<std::string>{"any", "all:DeviceAdded"}));
    calls.clear();
    center.post("DeviceRemoved");
    EXPECT_EQ(calls, (std::vector<std::string>{"all:DeviceRemoved", "rm"}));
}

TEST(NotificationCenter, CarriesUserInfoOfAnyType) {
    NotificationCenter center;
    const void* sender = &center;
    int reply = 0;
    center.addObserver("Progress", nullptr, [&](const Notification& n) {
        EXPECT_EQ(n.object, sender);
        ASSERT_NE(n.get<double>("fraction"), nullptr);
        EXPECT_EQ(*n.get<double>("fraction"), 0.5);
        EXPECT_EQ(n.get<int>("fraction"), nullptr);  // wrong type
        EXPECT_EQ(n.get<double>("missing"), nullptr);
        auto* callback = n.get<std::function<void(int)>>("reply");
        ASSERT_NE(callback, nullptr);
        (*callback)(9);
    });
    center.post(
        "Progress", sender,
        {{"fraction", 0.5}, {"reply", std::function<void(int)>([&](int v) { reply = v; })}});
    EXPECT_EQ(reply, 9);
}

TEST(NotificationCenter, ObserverRemovedDuringDeliveryIsNotCalled) {
    NotificationCenter center;
    std::vector<std::string> calls;
    NotificationCenter::ObserverId second = 0;
    NotificationCenter::ObserverId self = 0;
    center.addObserver("N", nullptr, [&](const Notification&) {
        calls.push_back("first");
        center.removeObserver(second);
    });
    second =
        center.addObserver("N", nullptr, [&](const Notification&) { calls.push_back("second"); });
    self = center.addObserver("N", nullptr, [&](const Notification&) {
        calls.push_back("self");
        center.removeObserver(self);
    });
    center.post("N");
    center.post("N");
    EXPECT_EQ(calls, (std::vector<std::string>{"first", "self", "first"}));
    center.removeObserver(12345);  // unknown: ignored
}

TEST(NotificationCenter, ObserverRemovedByAnotherThreadDuringDeliveryIsNotCalled) {
    NotificationCenter center;
    bool secondCalled = false;
    NotificationCenter::ObserverId second = 0;
    center.addObserver("N", nullptr, [&](const Notification&) {
        std::thread remover([&] { center.removeObserver(second); });
        remover.join();
    });
    second = center.addObserver("N", nullptr, [&](const Notification&) { secondCalled = true; });
    center.post("N");
    EXPECT_FALSE(secondCalled);
}

TEST(NotificationCenter, HandlersMayAddObserversAndPost) {
    NotificationCenter center;
    std::vector<std::string> calls;
    center.addObserver("Outer", nullptr, [&](const Notification&) {
        calls.push_back("outer");
        center.addObserver("Outer", nullptr, [&](const Notification&) { calls.push_back("late"); });
        center.post("Inner");
    });
    center.addObserver("Inner", nullptr, [&](const Notification&) { calls.push_back("inner"); });
    center.post("Outer");
    // The observer added during the first delivery only sees later posts.
    EXPECT_EQ(calls, (std::vector<std::string>{"outer", "inner"}));
}

TEST(NotificationCenter, NoLockIsHeldWhileAHandlerRuns) {
    NotificationCenter center;
    std::promise<void> otherPosted;
    std::future_status status = std::future_status::timeout;
    bool sawOther = false;
    center.addObserver("Other", nullptr, [&](const Notification&) { sawOther = true; });
    center.addObserver("Wait", nullptr, [&](const Notification&) {
        // Another thread posts, adds and removes while this handler waits for it.
        std::thread other([&] {
            center.post("Other");
            center.removeObserver(center.addObserver("X", nullptr, [](const Notification&) {}));
            otherPosted.set_value();
        });
        status = otherPosted.get_future().wait_for(30s);
        other.join();
    });
    center.post("Wait");
    EXPECT_EQ(status, std::future_status::ready);
    EXPECT_TRUE(sawOther);
}

}  // namespace
}  // namespace foundation
