#include <gtest/gtest.h>

#include "SimulatorFixture.h"
#include "logging/CapturingLogger.h"
#include "support/MainLoop.h"

using devicetest::RecordingListener;
using testsupport::runMainLoopUntil;

namespace {

class SimHub : public devicetest::SimulatorTest {
protected:
    std::shared_ptr<RecordingListener> listener = std::make_shared<RecordingListener>();
};

TEST_F(SimHub, AttachMakesADeviceAndDetachForgetsIt) {
    simdevice::SimDeviceConfig config;
    config.udid = "00008101-000A1B2C3D4E5F60";
    config.name = "Anna's iPhone";
    auto simulated = attachPaired(config);
    ASSERT_TRUE(hub->setListener(listener));
    ASSERT_TRUE(runMainLoopUntil([&] { return listener->connected.size() == 1; }));
    auto device = listener->connected.front();
    EXPECT_EQ(device->deviceName(), "Anna's iPhone");
    EXPECT_EQ(device->udid(), "00008101-000A1B2C3D4E5F60");
    EXPECT_EQ(device->interfaceType(), 1);
    EXPECT_EQ(device->description(), "AMDevice('Anna's iPhone')");
    ASSERT_EQ(hub->devices().size(), 1u);
    // Making the device left it disconnected, with its one session closed again.
    EXPECT_EQ(simulated->sessionsStarted(), 1);
    EXPECT_EQ(simulated->sessionsStopped(), 1);

    // The listener hears of the detach while the device is still listed.
    std::size_t listedWhenTold = 0;
    listener->onDisconnected = [&](const std::shared_ptr<AMDevice>&) {
        listedWhenTold = hub->devices().size();
    };
    server->detach(simulated);
    ASSERT_TRUE(runMainLoopUntil([&] { return listener->disconnected.size() == 1; }));
    EXPECT_EQ(listener->disconnected.front(), device);
    EXPECT_EQ(listedWhenTold, 1u);
    EXPECT_TRUE(hub->devices().empty());
    // A forgotten device no longer reaches the framework.
    EXPECT_FALSE(device->paired());
    EXPECT_TRUE(device->deviceValueForKey("DeviceName").isNil());
}

TEST_F(SimHub, ADeviceThatCannotBeReachedOrIsOnWifiNeverReachesTheListener) {
    auto unreachable = attachPaired(configFor("UNREACHABLE-0001"));
    unreachable->setRefuseConnections(true);
    attachPaired(configFor("WIRELESS-0002", true));
    ASSERT_TRUE(hub->setListener(listener));
    attachPaired(configFor("REACHABLE-0003"));
    ASSERT_TRUE(runMainLoopUntil([&] { return listener->connected.size() == 1; }));
    // Notices arrive in order, so the two earlier devices have been dealt with.
    EXPECT_EQ(listener->connected.front()->udid(), "REACHABLE-0003");
    ASSERT_EQ(hub->devices().size(), 1u);

    // Their detach notices change nothing either.
    server->detach(unreachable);
    auto last = attachPaired(configFor("LATE-0004"));
    ASSERT_TRUE(runMainLoopUntil([&] { return listener->connected.size() == 2; }));
    EXPECT_TRUE(listener->disconnected.empty());
    EXPECT_EQ(hub->devices().size(), 2u);
}

// A phone that never answers its session's TLS handshake is made off the main thread and
// given up after a while: others arrive meanwhile, and it is listed, nameless, in the end.
TEST_F(SimHub, APhoneThatNeverAnswersItsHandshakeHoldsNoOneUp) {
    auto silent = attachPaired(configFor("SILENT-0001"));
    silent->setHandshakeAnswers(false);
    ASSERT_TRUE(hub->setListener(listener));
    ASSERT_TRUE(runMainLoopUntil([&] { return hub->pendingCount() == 1; }));
    attachPaired(configFor("ANSWERS-0002"));
    ASSERT_TRUE(runMainLoopUntil([&] { return listener->connected.size() == 1; }));
    EXPECT_EQ(listener->connected.front()->udid(), "ANSWERS-0002");
    EXPECT_EQ(hub->pendingCount(), 1u);

    ASSERT_TRUE(runMainLoopUntil([&] { return listener->connected.size() == 2; },
                                 std::chrono::seconds(60)));
    EXPECT_EQ(listener->connected.back()->udid(), "SILENT-0001");
    EXPECT_EQ(listener->connected.back()->deviceName(), "");
}

// One that leaves while it is being made is never listed, and no one hears of it.
TEST_F(SimHub, APhoneThatLeavesWhileBeingMadeIsNeverListed) {
    auto silent = attachPaired(configFor("SILENT-0003"));
    silent->setHandshakeAnswers(false);
    ASSERT_TRUE(hub->setListener(listener));
    ASSERT_TRUE(runMainLoopUntil([&] { return hub->pendingCount() == 1; }));
    server->detach(silent);
    ASSERT_TRUE(runMainLoopUntil([&] { return hub->pendingCount() == 0; },
                                 std::chrono::seconds(60)));
    EXPECT_TRUE(hub->devices().empty());
    EXPECT_TRUE(listener->connected.empty());
    EXPECT_TRUE(listener->disconnected.empty());
}

// A multiplexer that starts after the application (as the system's does when a phone is
// plugged in) is found within seconds at the address USBMUXD_SOCKET_ADDRESS names; so is
// one that starts again, with its phones.
TEST_F(SimHub, AMultiplexerThatStartsLaterOrAgainIsFound) {
    server->stop();
    ASSERT_TRUE(hub->setListener(listener));
    testsupport::drainMainLoop();
    auto simulated = attachPaired(configFor("LATE-MUX-0001"));
    ASSERT_TRUE(server->start());
    ASSERT_TRUE(runMainLoopUntil([&] { return listener->connected.size() == 1; },
                                 std::chrono::seconds(10)));
    EXPECT_EQ(listener->connected.front()->udid(), "LATE-MUX-0001");

    server->stop();
    ASSERT_TRUE(runMainLoopUntil([&] { return listener->disconnected.size() == 1; }));
    EXPECT_TRUE(hub->devices().empty());
    ASSERT_TRUE(server->start());
    ASSERT_TRUE(runMainLoopUntil([&] { return listener->connected.size() == 2; },
                                 std::chrono::seconds(10)));
    EXPECT_EQ(hub->devices().size(), 1u);
    EXPECT_EQ(listener->connected.back()->deviceName(), "Simulated iPhone");
}

TEST_F(SimHub, ASecondListenerReplacesTheFirstWithoutSubscribingAgain) {
    ASSERT_TRUE(hub->setListener(listener));
    ASSERT_TRUE(runMainLoopUntil([&] { return server->listenerCount() == 1; }));
    auto second = std::make_shared<RecordingListener>();
    ASSERT_TRUE(hub->setListener(second));
    attachPaired();
    ASSERT_TRUE(runMainLoopUntil([&] { return second->connected.size() == 1; }));
    EXPECT_TRUE(listener->connected.empty());
    EXPECT_EQ(server->listenerCount(), 1);

    hub->stopListening();
    ASSERT_TRUE(runMainLoopUntil([&] { return server->listenerCount() == 0; }));
    EXPECT_FALSE(hub->waitForConnection());
}

TEST_F(SimHub, WillTerminateClosesWhatDevicesHaveOpen) {
    auto simulated = attachPaired();
    ASSERT_TRUE(hub->setListener(listener));
    ASSERT_TRUE(runMainLoopUntil([&] { return listener->connected.size() == 1; }));
    auto device = listener->connected.front();
    ASSERT_TRUE(device->startNewSession());
    EXPECT_EQ(simulated->sessionsStarted(), 2);
    foundation::NotificationCenter::defaultCenter().post(kApplicationWillTerminateNotification);
    EXPECT_EQ(simulated->sessionsStopped(), 2);
}

}  // namespace

namespace {

// Records other than an attach or a detach change nothing: the end of the subscription
// silently, any other code with a line in the log.
TEST_F(SimHub, EndOfSubscriptionAndUnknownRecordsAreIgnored) {
    auto logger = std::make_shared<CapturingLogger>();
    LgLog::sharedInstance().addLogger(logger);
    const auto savedLevel = lgLogLevel.load();
    lgLogLevel.store(LgLogFlagError | LgLogFlagWarning | LgLogFlagInfo);
    simdevice::SimDeviceConfig config;
    config.udid = "00008101-0000000000000003";
    attachPaired(config);
    ASSERT_TRUE(hub->setListener(listener));
    ASSERT_TRUE(runMainLoopUntil([&] { return listener->connected.size() == 1; }));
    LgLog::sharedInstance().flushLog();
    const auto before = logger->texts().size();

    hub->Notify({{}, mobiledevice::kADNCIMessageUnsubscribed});
    hub->Notify({{}, 42});
    EXPECT_EQ(hub->devices().size(), 1u);
    EXPECT_EQ(listener->connected.size(), 1u);
    EXPECT_TRUE(listener->disconnected.empty());
    LgLog::sharedInstance().flushLog();
    const auto lines = logger->texts();
    EXPECT_EQ(std::vector<std::string>(lines.begin() + static_cast<long>(before), lines.end()),
              std::vector<std::string>{"Ignoring unknown message: 42"});
    LgLog::sharedInstance().removeAllLoggers();
    LgLog::sharedInstance().flushLog();
    lgLogLevel.store(savedLevel);
}

}  // namespace
