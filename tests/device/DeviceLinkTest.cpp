#include <gtest/gtest.h>

#include <atomic>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "SocketPair.h"
#include "device/AMDLService.h"
#include "device/AMHeartBeatService.h"
#include "support/MainLoop.h"

using foundation::Value;

namespace {

// The device end of a link, scripted: each step reads one request (when `expect` is set)
// and then sends the given replies.
struct Step {
    Value expect;
    std::vector<Value> replies;
};

class ScriptedPeer {
public:
    ScriptedPeer(int fd, std::vector<Step> steps)
        : peer_(AMService::withSocket(fd, "device")), thread_([this, steps] {
              for (const auto& step : steps) {
                  if (!step.expect.isNil()) {
                      EXPECT_EQ(peer_->readXMLReplyTimeoutReturnCode(2000, nullptr), step.expect);
                  }
                  for (const auto& reply : step.replies) peer_->sendXMLRequest(reply);
              }
          }) {}
    ~ScriptedPeer() { thread_.join(); }

private:
    std::shared_ptr<AMService> peer_;
    std::thread thread_;
};

// A DeviceLink service over one end of a socket pair, the scripted device on the other.
struct Link {
    explicit Link(std::vector<Step> steps) {
        int fds[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        service = AMDLService::withSocket(fds[0], "com.example.dl");
        peer = std::make_unique<ScriptedPeer>(fds[1], std::move(steps));
    }
    std::shared_ptr<AMDLService> service;
    std::unique_ptr<ScriptedPeer> peer;
};

const Value kOffer = Value::list({"DLMessageVersionExchange", 400, 0});
const Value kVersionsOk = Value::list({"DLMessageVersionExchange", "DLVersionsOk", 400});
const Value kReady = Value::list({"DLMessageDeviceReady"});

TEST(DeviceLink, HandshakeAcceptsTheDeviceVersionOrEndsWithItsReason) {
    struct HandshakeCase {
        const char* name;
        std::vector<Step> steps;
        bool accepted;
        const char* error;
    };
    const std::vector<HandshakeCase> cases = {
        {"ready", {{{}, {kOffer}}, {kVersionsOk, {kReady}}}, true, ""},
        {"disconnect instead of the offer",
         {{{}, {Value::list({"DLMessageDisconnect", "Device is busy"})}}},
         false,
         "Device is busy"},
        {"disconnect instead of ready",
         {{{}, {kOffer}}, {kVersionsOk, {Value::list({"DLMessageDisconnect", "Going away"})}}},
         false,
         "Going away"},
        {"another message",
         {{{}, {Value::list({"DLMessageProcessMessage"})}}},
         false,
         "Expected 'DLMessageVersionExchange', got 'DLMessageProcessMessage'"},
        {"empty reply", {{{}, {Value::list({})}}}, false, "Response truncated"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Link link(c.steps);
        EXPECT_EQ(link.service->versionHandshake(), c.accepted);
        EXPECT_EQ(link.service->lasterror(), c.error);
    }
}

TEST(DeviceLink, ProcessMessagesWaitForTheirTypedReply) {
    const Value request = Value::dict({{"MessageType", "ScreenShotRequest"}});
    const Value sent = Value::list({"DLMessageProcessMessage", request});
    auto reply = [](Value body) { return Value::list({"DLMessageProcessMessage", body}); };
    struct ProcessCase {
        const char* name;
        Value answer;
        bool answered;
        const char* error;
    };
    const std::vector<ProcessCase> cases = {
        {"typed reply", reply(Value::dict({{"MessageType", "ScreenShotReply"}})), true, ""},
        {"error message", reply(Value::dict({{"ErrorMessage", "No display"}})), false,
         "No display"},
        {"other type", reply(Value::dict({{"MessageType", "Other"}})), false,
         "Expected 'ScreenShotReply', got 'Other'"},
        {"too short", Value::list({"DLMessageProcessMessage"}), false, "Reply is too short"},
        {"disconnect", Value::list({"DLMessageDisconnect", "bye"}), false, "bye"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Link link({{sent, {c.answer}}});
        Value got = link.service->sendDLProcessMessageAndWaitForReply(request, "ScreenShotReply");
        EXPECT_EQ(!got.isNil(), c.answered);
        EXPECT_EQ(link.service->lasterror(), c.error);
    }
}

TEST(DeviceLink, ProcessMessagesOnThePacketPath) {
    devicetest::SocketPair pair;
    auto device = AMService::withSocket(pair.peer, "device");
    pair.peer = -1;
    ASSERT_EQ(pair.service->sendProcessMessage(Value::dict({{"k", "v"}})), 0);
    int code = 99;
    EXPECT_EQ(device->receiveProcessMessageReturn(&code), Value::dict({{"k", "v"}}));
    EXPECT_EQ(code, 0);
    device->sendXMLRequest(Value::list({"DLMessageProcessMessage", 1, 2}));
    EXPECT_TRUE(pair.service->receiveProcessMessageReturn(&code).isNil());
    EXPECT_EQ(code, -2);
}

// Progress messages of a request answered by several replies.
class Progress : public AMServiceDelegate {
public:
    void operationStarted(const Value&) override { events.push_back("started"); }
    void operationContinues(const Value& reply) override {
        events.push_back(reply["Status"].stringOr(reply["Error"].stringOr()));
    }
    void operationCompleted(const Value&) override { events.push_back("completed"); }
    std::vector<std::string> events;
};

TEST(DeviceLink, RequestsRunUntilCompleteOrError) {
    const Value request = Value::dict({{"Command", "Install"}});
    const Value busy = Value::dict({{"Status", "Busy"}});
    struct DoneCase {
        std::vector<Value> replies;
        bool done;
        std::vector<std::string> events;
    };
    const std::vector<DoneCase> cases = {
        {{busy, Value::dict({{"Status", "Complete"}})},
         true,
         {"started", "Busy", "Complete", "completed"}},
        {{busy, Value::dict({{"Error", "APIInternalError"}})},
         false,
         {"started", "Busy", "APIInternalError", "completed"}},
    };
    for (const auto& c : cases) {
        devicetest::SocketPair pair;
        ScriptedPeer peer(pair.peer, {{request, c.replies}});
        pair.peer = -1;
        auto progress = std::make_shared<Progress>();
        pair.service->setDelegate(progress);
        EXPECT_EQ(pair.service->sendRequestAndWaitUntilDone(request), c.done);
        EXPECT_EQ(progress->events, c.events);
    }
}

// A heartbeat on one end of a socket pair; the test plays the device on the other.
struct BeatingPair {
    BeatingPair() {
        int fds[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        heartbeat = AMHeartBeatService::withSocket(fds[0]);
        device = AMService::withSocket(fds[1], "device");
    }
    std::shared_ptr<AMHeartBeatService> heartbeat;
    std::shared_ptr<AMService> device;
};

TEST(Heartbeat, AnyAnswerCountsAndSilenceEndsTheLoop) {
    BeatingPair pair;
    auto& heartbeat = pair.heartbeat;
    auto& device = pair.device;
    heartbeat->setAnswerTimeoutMs(50);
    std::thread answerTwice([&] {
        for (const Value& answer : {Value("anything"), Value::list({})}) {
            int code = 0;
            EXPECT_EQ(device->readPlistTimeoutReturnCode(2000, &code),
                      Value::dict({{"Command", "Polo"}}));
            device->sendPlistIsBinary(answer, false);
        }
    });
    ASSERT_TRUE(heartbeat->keepAlive());
    answerTwice.join();
    ASSERT_TRUE(testsupport::runMainLoopUntil([&] { return !heartbeat->isRunning(); }));
    EXPECT_FALSE(heartbeat->isCanceled());
    // die() on a loop that no longer runs changes nothing.
    heartbeat->die();
    EXPECT_FALSE(heartbeat->isCanceled());
}

// A beat waiting for a device that does not answer ends as soon as die() is called, not
// when the time for the answer is up.
TEST(Heartbeat, DieWhileABeatWaitsForItsAnswerEndsTheLoopAtOnce) {
    BeatingPair pair;
    auto& heartbeat = pair.heartbeat;
    auto& device = pair.device;
    heartbeat->setAnswerTimeoutMs(120000);
    ASSERT_TRUE(heartbeat->keepAlive());
    int code = 0;
    ASSERT_EQ(device->readPlistTimeoutReturnCode(30000, &code), Value::dict({{"Command", "Polo"}}));
    heartbeat->die();
    EXPECT_TRUE(testsupport::runMainLoopUntil([&] { return heartbeat.use_count() == 1; }));
    EXPECT_TRUE(heartbeat->isRunning()) << "a loop stopped by die() stays marked running";
    EXPECT_TRUE(heartbeat->isCanceled());
}

TEST(Heartbeat, DieStraightAfterKeepAliveStopsTheBeats) {
    BeatingPair pair;
    auto& heartbeat = pair.heartbeat;
    auto& device = pair.device;
    // The device answers every beat, so that only die() ends the loop.
    std::atomic<int> beats = 0;
    std::thread answering([&] {
        int code = 0;
        while (!device->readPlistTimeoutReturnCode(5000, &code).isNil()) {
            ++beats;
            device->sendPlistIsBinary(Value("answer"), false);
        }
    });
    ASSERT_TRUE(heartbeat->keepAlive());
    heartbeat->die();
    // The beat thread holds the service until its loop ends.
    ASSERT_TRUE(testsupport::runMainLoopUntil([&] { return heartbeat.use_count() == 1; }));
    EXPECT_TRUE(heartbeat->isRunning()) << "a loop stopped by die() stays marked running";
    EXPECT_TRUE(heartbeat->isCanceled());
    EXPECT_TRUE(heartbeat->keepAlive()) << "and is not started again";
    EXPECT_EQ(heartbeat.use_count(), 1);
    heartbeat.reset();  // the socket closes, and the device stops answering
    answering.join();
    EXPECT_LE(beats, 1) << "a beat may have left before die(), none after it";
}

}  // namespace
