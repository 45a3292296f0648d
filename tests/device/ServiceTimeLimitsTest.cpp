// A device played by the test that stops answering, half-way through a reply or before
// it, or stops reading what is sent to it: every wait of a request and reply service is
// given up after the service's reply limit, and the exchange fails as timed out.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sstream>

#include "EndsInTime.h"
#include "SocketPair.h"
#include "device/AMFileRelay.h"
#include "foundation/PropertyList.h"

namespace {

using devicetest::endsInTime;
using devicetest::framedXml;
using devicetest::lengthPrefix;
using devicetest::SocketPair;
using foundation::Value;

constexpr unsigned int kLimitMs = 300;

TEST(ServiceTimeLimits, RepliesThatDoNotComeOrStopHalfWayFailAsTimedOut) {
    const auto reply = framedXml(Value::dict({{"pngData", foundation::Data(64, 7)}}));
    const std::size_t half = reply.size() / 2;
    const struct {
        const char* name;
        std::size_t sent;  // of the reply's bytes, before the device falls silent
        std::string error;
    } cases[] = {
        {"nothing", 0, ""},
        {"half the length", 2, "Can't receive reply size"},
        {"half the list", half,
         "Reply was truncated, expected " + std::to_string(reply.size() - half) + " more bytes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SocketPair pair;
        pair.service->setReplyTimeoutMs(kLimitMs);
        pair.writePeer({reply.data(), c.sent});
        int code = 0;
        const Value answer = endsInTime([&] { return pair.service->readXMLReplyWithReturn(&code); },
                                        [&] { pair.closePeer(); });
        EXPECT_TRUE(answer.isNil());
        EXPECT_EQ(code, -60);
        EXPECT_EQ(pair.service->lasterror(), c.error);
    }
    // The raw packet read: the first bytes within its own limit, the rest within the
    // service's.
    SocketPair pair;
    pair.service->setReplyTimeoutMs(kLimitMs);
    pair.writePeer({reply.data(), reply.size() / 2});
    int code = 0;
    const Value answer =
        endsInTime([&] { return pair.service->readPlistTimeoutReturnCode(60000, &code); },
                   [&] { pair.closePeer(); });
    EXPECT_TRUE(answer.isNil());
    EXPECT_EQ(code, -3);
}

TEST(ServiceTimeLimits, SendsToADeviceThatStopsReadingFailAsTimedOut) {
    // Far more than the socket holds.
    const foundation::Data big(16u << 20, 'b');
    SocketPair raw;
    raw.service->setReplyTimeoutMs(kLimitMs);
    EXPECT_EQ(endsInTime([&] { return raw.service->sendRawData(big); }, [&] { raw.closePeer(); }),
              -1);
    EXPECT_EQ(raw.service->lasterror(), std::strerror(ETIMEDOUT));

    SocketPair xml;
    xml.service->setReplyTimeoutMs(kLimitMs);
    EXPECT_FALSE(endsInTime(
        [&] {
            return xml.service->sendXMLRequest(Value::dict({{"Data", big}}));
        },
        [&] { xml.closePeer(); }));
    EXPECT_EQ(xml.service->lasterror(), "Can't send message text");

    SocketPair packet;
    packet.service->setReplyTimeoutMs(kLimitMs);
    EXPECT_FALSE(endsInTime([&] { return packet.service->sendPlistIsBinary(Value(big), true); },
                            [&] { packet.closePeer(); }));
}

// The file relay's archive comes as a stream after the reply: a device that stops in the
// middle of it fails the copy.
TEST(ServiceTimeLimits, AFileRelayStreamThatStopsFailsAsTimedOut) {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    auto relay = AMFileRelay::withSocket(fds[0]);
    relay->setReplyTimeoutMs(kLimitMs);
    SocketPair device;  // only for its peer end's helpers
    device.closePeer();
    device.peer = fds[1];
    // The device's answer waits in the socket before it is asked for, so that only the
    // silence after it is timed, however late a loaded machine runs this thread.
    device.writePeer(framedXml(Value::dict({{"Status", "Acknowledged"}})));
    const std::string start = "the archive's first bytes";
    device.writePeer({reinterpret_cast<const std::uint8_t*>(start.data()), start.size()});
    std::ostringstream archive;
    EXPECT_FALSE(endsInTime([&] { return relay->getFileSetInto("CrashReporter", archive); },
                            [&] { ::shutdown(fds[1], SHUT_RDWR); }));
    EXPECT_EQ(device.readPacket()["Sources"], Value::list({"CrashReporter"}));
    EXPECT_EQ(relay->lasterror(), std::strerror(ETIMEDOUT));
    EXPECT_EQ(archive.str(), "the archive's first bytes");
}

}  // namespace
