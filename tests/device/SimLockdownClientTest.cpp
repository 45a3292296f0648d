// The layer's own lockdown client and TLS handshake against the simulated device.

#include <fcntl.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "SimulatorFixture.h"
#include "platform/mobiledevice/ConnectionFraming.h"
#include "platform/mobiledevice/LockdownClient.h"
#include "platform/mobiledevice/PairRecord.h"
#include "platform/mobiledevice/SslHandshake.h"
#include "platform/mobiledevice/StatusMapping.h"

namespace md = mobiledevice;
using foundation::Value;

namespace {

class SimLockdownClient : public devicetest::SimulatorTest {
protected:
    void SetUp() override {
        SimulatorTest::SetUp();
        if (HasFatalFailure()) return;
        simulated = attachPaired(configFor("LOCKDOWN-CLIENT"));
        ASSERT_EQ(idevice_new_with_options(&device, "LOCKDOWN-CLIENT", IDEVICE_LOOKUP_USBMUX),
                  IDEVICE_E_SUCCESS);
        record = md::readPairRecord("LOCKDOWN-CLIENT");
        ASSERT_FALSE(record["HostID"].stringOr().empty());
    }
    void TearDown() override {
        if (device) idevice_free(device);
        SimulatorTest::TearDown();
    }

    std::shared_ptr<simdevice::SimDevice> simulated;
    idevice_t device = nullptr;
    Value record;
};

// Sessions switch TLS on and off on one connection: values kept for sessions are given only
// inside one, and plain requests still read after a session ends.
TEST_F(SimLockdownClient, SessionsComeAndGoOnOneConnection) {
    std::unique_ptr<md::LockdownClient> client;
    ASSERT_EQ(md::LockdownClient::open(device, &client), md::kAMDSuccess);
    std::string type;
    ASSERT_EQ(client->queryType(&type), md::kAMDSuccess);
    EXPECT_EQ(type, "com.apple.mobile.lockdown");
    EXPECT_EQ(client->validatePair(record), md::kAMDSuccess);

    Value value;
    EXPECT_EQ(client->getValue(nullptr, "ActivationState", &value), md::kAMDMissingValueError);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        std::string session;
        ASSERT_EQ(client->startSession(record, &session), md::kAMDSuccess);
        EXPECT_FALSE(session.empty());
        ASSERT_EQ(client->getValue(nullptr, "ActivationState", &value), md::kAMDSuccess);
        EXPECT_EQ(value, Value("Activated"));
        ASSERT_EQ(client->getValue("com.apple.mobile.battery", nullptr, &value), md::kAMDSuccess);
        EXPECT_TRUE(value.isDictionary());
        lockdownd_service_descriptor_t service = nullptr;
        ASSERT_EQ(client->startService("com.apple.springboardservices", nullptr, &service),
                  md::kAMDSuccess);
        EXPECT_NE(service->port, 0);
        EXPECT_EQ(service->ssl_enabled, 0);
        EXPECT_STREQ(service->identifier, "com.apple.springboardservices");
        lockdownd_service_descriptor_free(service);
        ASSERT_EQ(client->stopSession(session), md::kAMDSuccess);
        ASSERT_EQ(client->getValue(nullptr, "DeviceName", &value), md::kAMDSuccess);
        EXPECT_TRUE(value.isString());
        EXPECT_EQ(client->getValue(nullptr, "ActivationState", &value), md::kAMDMissingValueError);
    }
    EXPECT_EQ(simulated->sessionsStarted(), 2);
    EXPECT_EQ(simulated->sessionsStopped(), 2);
}

// Replies naming an error give that error's status and leave the connection usable.
TEST_F(SimLockdownClient, ErrorRepliesGiveTheirStatus) {
    std::unique_ptr<md::LockdownClient> client;
    ASSERT_EQ(md::LockdownClient::open(device, &client), md::kAMDSuccess);
    lockdownd_service_descriptor_t service = nullptr;
    EXPECT_EQ(client->startService("com.apple.afc", nullptr, &service),
              md::kAMDSessionInactiveError);
    std::string session;
    EXPECT_EQ(client->stopSession("none"), md::kAMDInvalidSessionIDError);
    Value stranger = record;
    stranger.set("HostID", "NOT-A-PAIRED-HOST");
    EXPECT_EQ(client->startSession(stranger, &session), md::kAMDInvalidHostIDError);
    EXPECT_EQ(client->validatePair(stranger), md::kAMDInvalidHostIDError);
    simulated->failRequest("GetValue", "GetProhibited");
    Value value = "untouched";
    EXPECT_EQ(client->getValue(nullptr, "DeviceName", &value), md::kAMDGetProhibitedError);
    EXPECT_EQ(value, Value("untouched"));
    simulated->failRequest("GetValue", "SomethingNew");
    EXPECT_EQ(client->getValue(nullptr, "DeviceName", &value), md::kAMDUndefinedError);
    simulated->clearFailures();
    EXPECT_EQ(client->getValue(nullptr, "DeviceName", &value), md::kAMDSuccess);
    EXPECT_EQ(simulated->sessionsStarted(), 0);
}

// The handshake runs with the socket blocking but hands it back in the mode it found, as the
// receive time-outs rely on polling it.
TEST_F(SimLockdownClient, TheHandshakeLeavesTheSocketModeAsItFoundIt) {
    for (bool nonBlocking : {true, false}) {
        SCOPED_TRACE(nonBlocking ? "non-blocking" : "blocking");
        idevice_connection_t connection = nullptr;
        ASSERT_EQ(idevice_connect(device, 62078, &connection), IDEVICE_E_SUCCESS);
        int fd = -1;
        ASSERT_EQ(idevice_connection_get_fd(connection, &fd), IDEVICE_E_SUCCESS);
        const int plain = ::fcntl(fd, F_GETFL) & ~O_NONBLOCK;
        const int mode = nonBlocking ? plain | O_NONBLOCK : plain;
        ASSERT_EQ(::fcntl(fd, F_SETFL, mode), 0);

        const Value start = Value::dict(
            {{"Request", "StartSession"}, {"HostID", record["HostID"]}, {"Label", "test"}});
        ASSERT_EQ(md::sendFramedMessage({connection, false, 5000}, start, md::kAMDPropertyListXml),
                  md::kAMDSuccess);
        Value reply;
        ASSERT_EQ(md::receiveFramedMessage({connection, false, 5000}, &reply, nullptr),
                  md::kAMDSuccess);
        ASSERT_EQ(reply["EnableSessionSSL"], Value(true));
        EXPECT_EQ(md::enableSsl(connection), IDEVICE_E_SUCCESS);
        EXPECT_EQ(::fcntl(fd, F_GETFL), mode);

        // The session's traffic is encrypted: the device reads the request only through TLS.
        const Value get =
            Value::dict({{"Request", "GetValue"}, {"Key", "ActivationState"}, {"Label", "test"}});
        const md::Wire secure{connection, true, 5000};
        ASSERT_EQ(md::sendFramedMessage(secure, get, md::kAMDPropertyListXml), md::kAMDSuccess);
        ASSERT_EQ(md::receiveFramedMessage(secure, &reply, nullptr), md::kAMDSuccess);
        EXPECT_EQ(reply["Value"], Value("Activated"));
        idevice_disconnect(connection);
    }
}

}  // namespace
