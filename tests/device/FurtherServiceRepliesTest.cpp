// The further services' answers to a device played by the test: what a missing reply, a
// reply without a status and a goodbye that gets no answer give.
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "SocketPair.h"
#include "device/AMIOSDiagnosticsRelay.h"
#include "device/AMInstallationProxy.h"
#include "device/AMMobileDiagnosticsRelay.h"
#include "logging/CapturingLogger.h"

namespace {

using devicetest::framedXml;
using devicetest::SocketPair;
using foundation::Value;

// A service of the given kind over the service end of a socket pair.
template <class Service>
struct OnSocket : Service {
    explicit OnSocket(SocketPair& pair) { this->adoptSocket(::dup(pair.service->sock()), "test"); }
};

TEST(InstallationProxyBrowse, OnlyAReplyMakesTheList) {
    {
        SocketPair pair;
        OnSocket<AMInstallationProxy> proxy(pair);
        ::shutdown(pair.peer, SHUT_WR);  // reads the request, never answers
        EXPECT_FALSE(proxy.browse().has_value());
    }
    {
        SocketPair pair;
        OnSocket<AMInstallationProxy> proxy(pair);
        pair.writePeer(framedXml(
            Value::dict({{"Status", "Complete"}, {"Total", 0}, {"CurrentList", Value::list({})}})));
        const auto none = proxy.browse();
        ASSERT_TRUE(none.has_value());
        EXPECT_TRUE(none->empty());
        EXPECT_EQ(pair.readPacket()["Command"], Value("Browse"));
    }
}

// A device that keeps listing applications is read only up to a bound.
TEST(InstallationProxyBrowse, ADeviceThatNeverStopsListingIsReadUpToABound) {
    SocketPair pair;
    OnSocket<AMInstallationProxy> proxy(pair);
    Value page = Value::list({});
    for (int i = 0; i < 1000; ++i)
        page.append(Value::dict({{"CFBundleIdentifier", "app." + std::to_string(i)}}));
    const auto reply = framedXml(Value::dict(
        {{"Status", "BrowsingApplications"}, {"Total", 1000000}, {"CurrentList", page}}));
    std::thread device([&] {
        // Sends until the test hangs up.
        for (;;) {
            for (std::size_t done = 0; done < reply.size();) {
                const ssize_t sent = ::send(pair.peer, reply.data() + done, reply.size() - done,
                                            MSG_NOSIGNAL);
                if (sent <= 0) return;
                done += static_cast<std::size_t>(sent);
            }
        }
    });
    const auto apps = proxy.browse();
    ::shutdown(pair.peer, SHUT_RDWR);
    device.join();
    ASSERT_TRUE(apps.has_value());
    EXPECT_EQ(apps->size(), 10000u);
}

class DiagnosticsReplies : public SharedHubTest {};

TEST_F(DiagnosticsReplies, AReplyWithoutStatusOrWithAFailureGivesNothingAndSaysWhy) {
    {
        SocketPair pair;
        OnSocket<AMMobileDiagnosticsRelay> relay(pair);
        pair.writePeer(framedXml(Value::dict({{"Diagnostics", Value::dict({{"a", 1}})}})));
        EXPECT_TRUE(relay.getDiagnostics("WiFi").isNil());
        EXPECT_EQ(relay.lasterror(), "Reply did not contain Status entry");
    }
    {
        SocketPair pair;
        OnSocket<AMMobileDiagnosticsRelay> relay(pair);
        pair.writePeer(framedXml(Value::dict({{"Status", "UnknownRequest"}})));
        EXPECT_FALSE(relay.sleep());
        EXPECT_EQ(relay.lasterror(), "UnknownRequest");
    }
    {
        SocketPair pair;
        OnSocket<AMIOSDiagnosticsRelay> relay(pair);
        pair.writePeer(framedXml(Value::dict({{"Diagnostics", 1}})));
        EXPECT_TRUE(relay.getDiagnostics().isNil());
        EXPECT_EQ(relay.lasterror(), "Reply did not contain Status entry");
    }
}

TEST_F(DiagnosticsReplies, AGoodbyeWithoutAnswerGivesMinusTwo) {
    lgLogLevel.store(LgLogFlagError | LgLogFlagWarning | LgLogFlagInfo);
    SocketPair pair;
    OnSocket<AMIOSDiagnosticsRelay> relay(pair);
    ::shutdown(pair.peer, SHUT_WR);
    EXPECT_EQ(relay.goodbye(), -2);
    EXPECT_EQ(pair.readPacket()["Request"], Value("Goodbye"));
    LgLog::sharedInstance().flushLog();
    const auto lines = logger->texts();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "did not get goodbye response back"),
              lines.end());

    SocketPair answered;
    OnSocket<AMIOSDiagnosticsRelay> polite(answered);
    answered.writePeer(framedXml(Value::dict({{"Status", "Success"}})));
    EXPECT_EQ(polite.goodbye(), 0);
}

}  // namespace
