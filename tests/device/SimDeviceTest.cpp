#include <gtest/gtest.h>

#include <fmt/format.h>

#include <algorithm>
#include <string>

#include "SimulatorFixture.h"
#include "device/AMDLService.h"
#include "device/AMHeartBeatService.h"
#include "logging/CapturingLogger.h"
#include "support/MainLoop.h"

using foundation::Value;
using testsupport::runMainLoopUntil;

namespace {

class SimDevice : public devicetest::SimulatorTest {};

TEST_F(SimDevice, AValueReadOpensAndClosesOnlyTheSessionItOpened) {
    simdevice::SimDeviceConfig config;
    config.productType = "iPhone14,5";
    auto simulated = attachPaired(config);
    auto device = amDevice(simulated);
    ASSERT_TRUE(device);
    const int started = simulated->sessionsStarted();
    const int stopped = simulated->sessionsStopped();

    EXPECT_EQ(device->productType(), "iPhone14,5");
    EXPECT_EQ(simulated->sessionsStarted(), started + 1);
    EXPECT_EQ(simulated->sessionsStopped(), stopped + 1);

    ASSERT_TRUE(device->startNewSession());
    EXPECT_EQ(simulated->sessionsStarted(), started + 2);
    Value usage = device->allDeviceValuesForDomain("com.apple.disk_usage");
    EXPECT_TRUE(usage["TotalDiskCapacity"].isNumber());
    EXPECT_EQ(device->productVersion(), "16.7.2");
    EXPECT_TRUE(device->deviceValueForKey("NoSuchKey").isNil());
    EXPECT_EQ(simulated->sessionsStarted(), started + 2);
    EXPECT_EQ(simulated->sessionsStopped(), stopped + 1);
    device->stopOpenedSession();
    EXPECT_EQ(simulated->sessionsStopped(), stopped + 2);
}

TEST_F(SimDevice, AHeldSessionIsSharedByTheOperationsInsideItAndClosedAfter) {
    auto simulated = attachPaired();
    auto device = amDevice(simulated);
    ASSERT_TRUE(device);
    const int started = simulated->sessionsStarted();
    const int stopped = simulated->sessionsStopped();
    {
        AMDevice::HeldSession held(device);
        EXPECT_EQ(simulated->sessionsStarted(), started + 1);
        EXPECT_EQ(device->productType(), "iPhone12,1");
        EXPECT_TRUE(device->allDeviceValuesForDomain("com.apple.disk_usage").isDictionary());
        EXPECT_TRUE(device->newHeartbeatService());
        {
            AMDevice::HeldSession inner(device);  // finds one open: opens and closes nothing
        }
        EXPECT_EQ(simulated->sessionsStarted(), started + 1);
        EXPECT_EQ(simulated->sessionsStopped(), stopped);
    }
    EXPECT_EQ(simulated->sessionsStopped(), stopped + 1);
    // Left as found: the next read opens a session of its own again.
    EXPECT_EQ(device->productVersion(), "16.7.2");
    EXPECT_EQ(simulated->sessionsStarted(), started + 2);
    EXPECT_EQ(simulated->sessionsStopped(), stopped + 2);

    // Where no session opens, nothing is held and each operation fails as it would alone.
    auto unpairedSim = server->attach(configFor("UNPAIRED-0001"));
    auto unpaired = amDevice(unpairedSim);
    ASSERT_TRUE(unpaired);
    {
        AMDevice::HeldSession held(unpaired);
        EXPECT_TRUE(unpaired->deviceValueForKey("DeviceName").isNil());
        EXPECT_EQ(static_cast<std::uint32_t>(unpaired->lastcode()), 0xe800001cu);
    }
    EXPECT_EQ(unpairedSim->sessionsStarted(), 0);
    unpaired->forgetDevice();
    AMDevice::HeldSession gone(unpaired);  // a departed device is not reached
    AMDevice::HeldSession none(nullptr);
}

TEST_F(SimDevice, PairingAPairedDeviceSendsNoPairRequest) {
    auto simulated = server->attach({});
    auto device = amDevice(simulated);
    ASSERT_TRUE(device);
    EXPECT_FALSE(device->paired());
    // Unpaired hosts get no session.
    EXPECT_TRUE(device->deviceValueForKey("DeviceName").isNil());
    EXPECT_EQ(static_cast<std::uint32_t>(device->lastcode()), 0xe800001cu);

    ASSERT_TRUE(device->pair());
    EXPECT_EQ(simulated->pairRequests(), 1);
    EXPECT_TRUE(server->hasPairRecord(simulated->config().udid));
    EXPECT_TRUE(device->paired());
    ASSERT_TRUE(device->pair());
    EXPECT_EQ(simulated->pairRequests(), 1);
    EXPECT_EQ(device->deviceName(), "");  // read while unpaired
    EXPECT_EQ(device->deviceValueForKey("DeviceName").stringOr(), "Simulated iPhone");

    ASSERT_TRUE(device->unpair());
    EXPECT_FALSE(device->paired());
}

// A pair record on this computer is not enough: the phone must still accept it.
TEST_F(SimDevice, APhoneThatForgotThisComputerIsNotPairedAndPairsAgain) {
    auto simulated = attachPaired();
    auto device = amDevice(simulated);
    ASSERT_TRUE(device);
    ASSERT_TRUE(device->paired());
    simulated->forgetPairedHosts();
    EXPECT_TRUE(server->hasPairRecord(simulated->config().udid));
    EXPECT_FALSE(device->paired());

    ASSERT_TRUE(device->pair());
    EXPECT_EQ(simulated->pairRequests(), 1);
    EXPECT_TRUE(device->paired());
    EXPECT_EQ(device->deviceValueForKey("DeviceName").stringOr(), "Simulated iPhone");
    ASSERT_TRUE(device->unpair());
    EXPECT_FALSE(device->paired());
}

// The last error is the device's state now: once the phone trusts this computer again, the
// refusal it gave before is no longer its error.
TEST_F(SimDevice, APassingValidationEndsAnEarlierRefusal) {
    auto simulated = server->attach({});
    auto device = amDevice(simulated);
    ASSERT_TRUE(device);
    EXPECT_TRUE(device->deviceValueForKey("DeviceName").isNil());
    EXPECT_EQ(static_cast<std::uint32_t>(device->lastcode()), 0xe800001cu);
    ASSERT_TRUE(device->pair());
    EXPECT_EQ(device->deviceValueForKey("DeviceName").stringOr(), "Simulated iPhone");
    EXPECT_EQ(device->lastcode(), 0);
    EXPECT_EQ(device->lasterror(), "");
}

// A lockdown error reaches lastcode as the framework's status and lasterror in words.
TEST_F(SimDevice, LockdownErrorsSurfaceAsMappedStatuses) {
    struct ErrorCase {
        const char* request;
        const char* error;
        std::uint32_t status;
        const char* operation;
        const char* words;
    };
    const ErrorCase cases[] = {
        {"StartSession", "PasswordProtected", 0xe800001a, "AMDeviceStartSession",
         "The device is passcode protected."},
        {"StartSession", "InvalidHostID", 0xe800001c, "AMDeviceStartSession",
         "The device does not recognize this host."},
        {"Pair", "UserDeniedPairing", 0xe8000095, "AMDevicePair",
         "The device rejected the pairing attempt."},
        {"Pair", "PairingDialogResponsePending", 0xe8000096, "AMDevicePair",
         "The user has not yet responded to the pairing request."},
        {"Unpair", "InvalidHostID", 0xe800001c, "AMDeviceUnpair",
         "The device does not recognize this host."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        const bool pairing = std::string(c.request) == "Pair";
        const auto config = configFor(std::string("CASE-") + c.request + "-" + c.error);
        auto simulated = pairing ? server->attach(config) : attachPaired(config);
        auto device = amDevice(simulated);
        ASSERT_TRUE(device);
        simulated->failRequest(c.request, c.error);
        bool ok;
        if (pairing) {
            ok = device->pair();
        } else if (std::string(c.request) == "Unpair") {
            ok = device->unpair();
        } else {
            ok = !device->deviceValueForKey("DeviceName").isNil();
        }
        EXPECT_FALSE(ok);
        EXPECT_EQ(static_cast<std::uint32_t>(device->lastcode()), c.status);
        // "MobileDeviceHub@<line> -> <operation> failed: <words> (0x<status>)"
        const std::string text = device->lasterror();
        const std::string tail =
            fmt::format(" -> {} failed: {} (0x{:08x})", c.operation, c.words, c.status);
        const std::string prefix = "MobileDeviceHub@";
        ASSERT_TRUE(text.starts_with(prefix) && text.ends_with(tail)) << text;
        const std::string line =
            text.substr(prefix.size(), text.size() - prefix.size() - tail.size());
        EXPECT_TRUE(!line.empty() && line.find_first_not_of("0123456789") == std::string::npos)
            << text;
        server->detach(simulated);
    }
}

TEST_F(SimDevice, AFailedValidationStillConnects) {
    auto simulated = attachPaired();
    auto device = amDevice(simulated);
    ASSERT_TRUE(device);
    simulated->failRequest("ValidatePair", "InvalidHostID");
    EXPECT_TRUE(device->deviceConnect());
    EXPECT_EQ(device->lasterror(), "");
    EXPECT_EQ(static_cast<std::uint32_t>(device->lastcode()), 0xe800001cu);
    EXPECT_TRUE(device->deviceDisconnect());
}

TEST_F(SimDevice, ADroppedConnectionFailsOneReadAndLeavesTheDeviceUsable) {
    auto simulated = attachPaired();
    auto device = amDevice(simulated);
    ASSERT_TRUE(device);
    simulated->dropConnectionOn("GetValue");
    EXPECT_TRUE(device->deviceValueForKey("ProductType").isNil());
    EXPECT_EQ(device->productType(), "iPhone12,1");
    EXPECT_EQ(simulated->sessionsStarted(), simulated->sessionsStopped());
}

TEST_F(SimDevice, FailedServiceStartsAndLookupsLeaveTheDeviceClosed) {
    auto simulated = attachPaired();
    auto device = amDevice(simulated);
    ASSERT_TRUE(device);
    simulated->failRequest("StartService", "InvalidService");
    EXPECT_TRUE(device->lookupApplications().isNil());
    EXPECT_EQ(simulated->sessionsStarted(), simulated->sessionsStopped());

    ASSERT_TRUE(device->startNewSession());
    auto logger = std::make_shared<CapturingLogger>();
    const auto savedLevel = lgLogLevel.load();
    SetLogLevel(4 | 3);
    LgLog::sharedInstance().addLogger(logger);
    EXPECT_FALSE(AMService::serviceWithName("com.example.missing", device));
    LgLog::sharedInstance().removeLogger(logger);
    LgLog::sharedInstance().flushLog();
    lgLogLevel.store(savedLevel);
    EXPECT_EQ(static_cast<std::uint32_t>(device->lastcode()), 0xe8000022u);  // invalid service
    // Printed as "%#x" prints: a zero field is "0", not "0x0".
    const auto texts = logger->texts();
    EXPECT_NE(std::find(texts.begin(), texts.end(), "AMDeviceStartService failed: 0x3a,0,0x22"),
              texts.end());
    EXPECT_FALSE(AMDLService::create("com.example.missing", device));
    device->stopOpenedSession();
}

TEST_F(SimDevice, HeartbeatRunsUntilTheDeviceStopsAnswering) {
    auto simulated = attachPaired();
    auto device = amDevice(simulated);
    ASSERT_TRUE(device);
    auto heartbeat = device->newHeartbeatService();
    ASSERT_TRUE(heartbeat);
    EXPECT_EQ(simulated->sessionsStarted(), simulated->sessionsStopped());
    heartbeat->setAnswerTimeoutMs(100);
    ASSERT_TRUE(heartbeat->keepAlive());
    ASSERT_TRUE(runMainLoopUntil([&] { return simulated->heartbeatsAnswered() >= 2; }));
    EXPECT_TRUE(heartbeat->isRunning());
    simulated->setHeartbeatAnswers(false);
    ASSERT_TRUE(runMainLoopUntil([&] { return !heartbeat->isRunning(); }));
    EXPECT_FALSE(heartbeat->isCanceled());
}

}  // namespace
