// A phone reached over the network: let through when wireless devices are, kept alive by
// heartbeats, and its media service unlocked with the pair record's escrow bag.
#include <gtest/gtest.h>

#include "SimulatorFixture.h"
#include "device/AFCDirectoryKinds.h"
#include "device/AMHeartBeatService.h"
#include "foundation/ScratchFolder.h"
#include "support/MainLoop.h"

namespace {

using devicetest::RecordingListener;
using foundation::Value;
using testsupport::runMainLoopUntil;

class SimNetworkPhone : public devicetest::SimulatorTest {
protected:
    void TearDown() override {
        MobileDeviceHub::enableWiFiConnection(false);
        SimulatorTest::TearDown();
    }
    // The services the device was asked to start, with whether each carried the escrow bag.
    std::vector<std::string> startsOf(const std::shared_ptr<simdevice::SimDevice>& device) {
        return device->services().locked([](auto& fields) {
            std::vector<std::string> starts;
            for (const Value& request : fields.received["StartService"])
                starts.push_back(request["Service"].stringOr() +
                                 (request["EscrowBag"].isData() ? " unlocked" : ""));
            return starts;
        });
    }
    foundationtest::ScratchFolder scratch;
};

TEST_F(SimNetworkPhone, AWirelessPhoneIsKeptAliveAndItsFilesUnlocked) {
    MobileDeviceHub::enableWiFiConnection(true);
    auto listener = std::make_shared<RecordingListener>();
    ASSERT_TRUE(hub->setListener(listener));
    simdevice::SimDeviceConfig config = configFor("00008101-WIRELESS000001", true);
    config.root = scratch.path();
    auto simulated = attachPaired(config);
    ASSERT_TRUE(runMainLoopUntil([&] { return listener->connected.size() == 1; }));
    auto device = listener->connected.front();
    EXPECT_EQ(device->interfaceType(), mobiledevice::kAMDInterfaceWiFi);

    // The heartbeat started with the device and beats on its own.
    auto heartbeat = device->heartbeatService();
    ASSERT_TRUE(heartbeat);
    EXPECT_TRUE(heartbeat->isRunning());
    EXPECT_TRUE(runMainLoopUntil([&] { return simulated->heartbeatsAnswered() >= 2; }));
    EXPECT_TRUE(heartbeat->isRunning());

    // The media service is started with the escrow bag and works.
    auto media = device->newAFCMediaDirectory();
    ASSERT_TRUE(media);
    EXPECT_TRUE(media->mkdir("/Wireless"));
    EXPECT_TRUE(std::filesystem::is_directory(scratch / "Wireless"));
    EXPECT_EQ(startsOf(simulated),
              (std::vector<std::string>{"com.apple.mobile.heartbeat", "com.apple.afc unlocked"}));

    // The device's leaving ends its beats at once: the beat thread lets the service go.
    device->forgetDevice();
    EXPECT_TRUE(heartbeat->isCanceled());
    EXPECT_TRUE(
        runMainLoopUntil([&] { return heartbeat.use_count() == 2; }));  // the device's and ours
}

}  // namespace
