#include "foundation/NotificationCenter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "support/Latch.h"

using namespace foundation;
using namespace std::chrono_literals;
using Calls = std::vector<std::string>;

TEST(NotificationCenter, DeliversByNameAndSenderInRegistrationOrder) {
    NotificationCenter center;
    const int deviceA = 0;
    const int deviceB = 0;
    Calls calls;
    center.addObserver("DeviceAdded", &deviceA, [&](const Notification&) { calls.push_back("A"); });
    center.addObserver("DeviceAdded", nullptr,
                       [&](const Notification&) { calls.push_back("any"); });
    center.addObserver("", nullptr,
                       [&](const Notification& n) { calls.push_back("all:" + n.name); });
    center.addObserver("DeviceRemoved", nullptr,
                       [&](const Notification&) { calls.push_back("rm"); });

    center.post("DeviceAdded", &deviceA);
    center.post("DeviceAdded", &deviceB);
    center.post("DeviceRemoved");
    EXPECT_EQ(calls, (Calls{"A", "any", "all:DeviceAdded", "any", "all:DeviceAdded",
                            "all:DeviceRemoved", "rm"}));
}

TEST(NotificationCenter, CarriesSenderAndUserInfo) {
    NotificationCenter center;
    int reply = 0;
    center.addObserver("Progress", nullptr, [&](const Notification& n) {
        EXPECT_EQ(n.object, &center);
        ASSERT_NE(n.get<double>("fraction"), nullptr);
        EXPECT_EQ(*n.get<double>("fraction"), 0.5);
        (*n.get<std::function<void(int)>>("reply"))(9);
    });
    center.post(
        "Progress", &center,
        {{"fraction", 0.5}, {"reply", std::function<void(int)>([&](int v) { reply = v; })}});
    EXPECT_EQ(reply, 9);
}

TEST(NotificationCenter, HandlersMayAddRemoveAndPost) {
    NotificationCenter center;
    Calls calls;
    NotificationCenter::ObserverId second = 0, self = 0, third = 0;
    center.addObserver("N", nullptr, [&](const Notification&) {
        calls.push_back("first");
        center.removeObserver(second);
        std::thread([&] { center.removeObserver(third); }).join();
        center.addObserver("N", nullptr, [&](const Notification&) { calls.push_back("late"); });
        center.post("Inner");
    });
    second = center.addObserver("N", nullptr, [&](const Notification&) { calls.push_back("2"); });
    self = center.addObserver("N", nullptr, [&](const Notification&) {
        calls.push_back("self");
        center.removeObserver(self);
    });
    third = center.addObserver("N", nullptr, [&](const Notification&) { calls.push_back("3"); });
    center.addObserver("Inner", nullptr, [&](const Notification&) { calls.push_back("inner"); });
    center.post("N");
    // Observers removed during delivery, here or on another thread, are not called; one
    // added during it only sees later posts.
    EXPECT_EQ(calls, (Calls{"first", "inner", "self"}));
    calls.clear();
    center.removeObserver(12345);  // unknown: ignored
    center.post("N");
    EXPECT_EQ(calls, (Calls{"first", "inner", "late"}));
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

TEST(NotificationCenter, RemovalWaitsForACallUnderWayOnAnotherThread) {
    // An owner removes its observer and then frees what the handler uses: a call that
    // was already running on another thread must have ended by then.
    NotificationCenter center;
    std::atomic<bool> stateAlive = true;
    std::atomic<bool> sawFreedState = false;
    std::atomic<bool> probing = false, probeReached = false;
    testsupport::Latch entered(1);
    NotificationCenter::ObserverId id = 0;
    id = center.addObserver("N", nullptr, [&](const Notification&) {
        if (probing) {
            probeReached = true;
            return;
        }
        entered.count_down();
        // Wait until the removal has begun: a nested post no longer reaches this observer.
        for (;;) {
            probing = true;
            probeReached = false;
            center.post("N");
            probing = false;
            if (!probeReached) break;
            std::this_thread::yield();
        }
        // Give a removal that does not wait every chance to return and free the state.
        for (int i = 0; i < 20000 && stateAlive; ++i) std::this_thread::yield();
        if (!stateAlive) sawFreedState = true;
    });
    std::thread poster([&] { center.post("N"); });
    entered.wait();
    center.removeObserver(id);
    stateAlive = false;
    poster.join();
    EXPECT_FALSE(sawFreedState);
}
