// Services a phone serves only inside TLS ("EnableServiceSSL"): started plain first, then
// secure, and spoken through the secure connection's own send, receive and property-list
// calls.
#include <gtest/gtest.h>

#include "SimServiceFixture.h"
#include "device/AMHeartBeatService.h"
#include "device/AMInstallationProxy.h"
#include "device/AMMobileDiagnosticsRelay.h"
#include "device/AMScreenshotService.h"
#include "device/AMSpringboardServices.h"
#include "foundation/PropertyList.h"
#include "simdevice/SimApplications.h"
#include "support/MainLoop.h"

namespace {

using foundation::Value;

constexpr const char* kSpringboard = "com.apple.springboardservices";

class SimSecureServices : public devicetest::SimulatorTest {
protected:
    void SetUp() override {
        SimulatorTest::SetUp();
        simdevice::SimDeviceConfig config = configFor("00008101-SECURE0000001");
        config.secureServices = {kSpringboard, AMHeartBeatService::kServiceName,
                                 "com.apple.mobile.installation_proxy",
                                 "com.apple.mobile.diagnostics_relay", "com.apple.mobile.screenshotr"};
        simulated = attachPaired(config);
        am = amDevice(simulated);
        ASSERT_TRUE(am);
    }
    std::shared_ptr<simdevice::SimDevice> simulated;
    std::shared_ptr<AMDevice> am;
};

TEST_F(SimSecureServices, AStartThatFailsPlainSucceedsSecure) {
    AMDevice::HeldSession session(am);
    am->setLastcode(0);
    AMServiceHandle handle;
    bool secure = false;
    ASSERT_TRUE(am->startServiceReturnHandleSecure(kSpringboard, &handle, &secure));
    EXPECT_TRUE(secure);
    EXPECT_TRUE(handle.connection);
    EXPECT_EQ(am->lastcode(), 0);  // the plain attempt's failure is not kept

    // A service the device does not serve fails both ways, and only then is a code kept.
    EXPECT_FALSE(am->startServiceReturnHandleSecure("com.example.nothing", &handle, &secure));
    EXPECT_NE(am->lastcode(), 0);

    // Asked for one kind only, the plain start of a secure service fails.
    am->setLastcode(0);
    EXPECT_FALSE(am->startServiceOutServiceConnectionOptionsInSecure(kSpringboard, &handle, Value(), false));
    EXPECT_NE(am->lastcode(), 0);
    EXPECT_TRUE(am->startServiceOutServiceConnectionOptionsInSecure(kSpringboard, &handle, Value(), true));
}

TEST_F(SimSecureServices, PropertyListsTravelThroughTheSecureConnection) {
    auto springboard = am->newAMSpringboardServices();
    ASSERT_TRUE(springboard);
    EXPECT_TRUE(springboard->isSecureConnection());
    EXPECT_TRUE(springboard->connection().connection);
    EXPECT_LT(springboard->connection().socket, 0);
    EXPECT_GE(springboard->sock(), 0);
    const Value reply = springboard->getIconPNGData("com.example.reader");
    ASSERT_TRUE(reply["pngData"].data());
    EXPECT_EQ(*reply["pngData"].data(), simdevice::applicationIcon("com.example.reader"));
    EXPECT_EQ(springboard->getIconState()[1].size(), 4u);

    auto diagnostics = am->newAMMobileDiagnosticsRelay();
    ASSERT_TRUE(diagnostics);
    EXPECT_TRUE(diagnostics->isSecureConnection());
    EXPECT_EQ(diagnostics->getGasGaugeDiagnostics()["GasGauge"]["CycleCount"], Value(212));

    // Replies that follow each other closely may share one piece of the encrypted stream.
    auto installer = am->newAMInstallationProxyWithDelegate(nullptr);
    ASSERT_TRUE(installer);
    EXPECT_TRUE(installer->isSecureConnection());
    EXPECT_EQ(installer->browse().value_or(std::vector<AMApplication>{}).size(), 4u);
    EXPECT_EQ(installer->browse().value_or(std::vector<AMApplication>{}).size(), 4u);

    // DeviceLink's handshake and messages as well.
    auto screenshots = am->newAMScreenshotService();
    ASSERT_TRUE(screenshots);
    EXPECT_TRUE(screenshots->isSecureConnection());
}

TEST_F(SimSecureServices, RawPacketsTravelThroughTheSecureConnection) {
    auto heartbeat = am->newHeartbeatService();
    ASSERT_TRUE(heartbeat);
    EXPECT_TRUE(heartbeat->isSecureConnection());
    heartbeat->setAnswerTimeoutMs(30000);
    for (int beat = 1; beat <= 3; ++beat) {
        ASSERT_TRUE(heartbeat->send());
        ASSERT_TRUE(heartbeat->receive());
    }
    // The device counts a beat once its answer is out.
    EXPECT_TRUE(testsupport::runMainLoopUntil([&] { return simulated->heartbeatsAnswered() == 3; }));
    // The same by hand: a framed packet out, and the answer in through raw reads.
    const auto xml = foundation::plist::writeBinary(Value::dict({{"Command", "Polo"}}));
    ASSERT_TRUE(xml);
    EXPECT_EQ(heartbeat->sendDataPacket(foundation::Data(xml->begin(), xml->end())),
              static_cast<long>(xml->size()));
    int code = -1;
    const Value answer = heartbeat->readPlistTimeoutReturnCode(30000, &code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(answer["Command"], Value("Marco"));
}

}  // namespace
