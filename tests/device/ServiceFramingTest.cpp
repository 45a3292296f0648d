#include <linux/sockios.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <atomic>
#include <csignal>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "SocketPair.h"
#include "foundation/PropertyList.h"

using devicetest::lengthPrefix;
using devicetest::SocketPair;
using foundation::Value;

namespace {

std::vector<std::uint8_t> xmlOf(const Value& value) {
    auto xml = foundation::plist::writeXml(value);
    return {xml->begin(), xml->end()};
}

// What the peer writes, in the pieces it writes them.
struct SplitCase {
    const char* name;
    std::vector<std::size_t> cuts;  // offsets at which the bytes are split
};

class ServiceFraming : public ::testing::Test {
protected:
    SocketPair pair;
};

TEST_F(ServiceFraming, SplitPacketsAreReassembledOnBothReadPaths) {
    const Value message = Value::dict({{"Command", "Polo"}, {"Count", 7}});
    std::vector<std::uint8_t> wire =
        lengthPrefix(static_cast<std::uint32_t>(xmlOf(message).size()));
    auto body = xmlOf(message);
    wire.insert(wire.end(), body.begin(), body.end());
    const SplitCase cases[] = {
        {"whole", {}},
        {"prefix split", {2}},
        {"prefix byte by byte", {1, 2, 3}},
        {"payload split", {4, 10, 30}},
        {"everything split", {1, 3, 5, 6, 50}},
    };
    for (bool rawPath : {false, true}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (rawPath ? " raw" : " xml"));
            std::thread writer([&] {
                std::size_t start = 0;
                for (std::size_t cut : c.cuts) {
                    pair.writePeer({wire.data() + start, cut - start});
                    start = cut;
                    std::this_thread::yield();
                }
                pair.writePeer({wire.data() + start, wire.size() - start});
            });
            int code = 99;
            Value reply = rawPath ? pair.service->readPlistTimeoutReturnCode(2000, &code)
                                  : pair.service->readXMLReplyTimeoutReturnCode(2000, &code);
            writer.join();
            EXPECT_EQ(reply, message);
            if (rawPath) {
                EXPECT_EQ(code, 0);
            }
        }
    }
}

TEST_F(ServiceFraming, SentPacketsCarryABigEndianLengthAndTheList) {
    const Value message = Value::list({"DLMessageProcessMessage", Value::dict({{"k", 1}})});
    for (bool binary : {false, true}) {
        ASSERT_TRUE(pair.service->sendPlistIsBinary(message, binary));
        foundation::plist::Format format{};
        EXPECT_EQ(pair.readPacket(&format), message);
        EXPECT_EQ(format,
                  binary ? foundation::plist::Format::Binary : foundation::plist::Format::Xml);
    }
    ASSERT_TRUE(pair.service->sendXMLRequest(message));
    EXPECT_EQ(pair.readPacket(), message);
}

TEST_F(ServiceFraming, SixteenMebibytePacketsRoundTrip) {
    foundation::Data blob(16u << 20);
    for (std::size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<std::uint8_t>(i * 31);
    const Value message = Value::dict({{"blob", blob}});
    // Echo: the peer side is a second service over the raw end.
    auto echo = AMService::withSocket(pair.peer, "echo");
    pair.peer = -1;
    std::thread device([&] {
        int code = 0;
        Value got = echo->readPlistTimeoutReturnCode(10000, &code);
        echo->sendPlistIsBinary(got, true);
    });
    ASSERT_TRUE(pair.service->sendPlistIsBinary(message, true));
    int code = 99;
    Value back = pair.service->readPlistTimeoutReturnCode(10000, &code);
    device.join();
    EXPECT_EQ(code, 0);
    EXPECT_EQ(back, message);
}

// XML goes out through room the service keeps from message to message, each frame in as
// few system calls as the socket takes: large messages that fill the socket many times
// over, and small ones after them, must each arrive whole and alone, on every send path.
TEST_F(ServiceFraming, MessagesOfEverySizeArriveWholeOneAfterAnother) {
    int small = 4096;
    ASSERT_EQ(::setsockopt(pair.service->sock(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small), 0);
    std::vector<Value> messages;
    for (std::size_t size : {std::size_t{3u << 20}, std::size_t{1}, std::size_t{70'000},
                             std::size_t{0}, std::size_t{1500}}) {
        foundation::Data blob(size);
        for (std::size_t i = 0; i < size; ++i) blob[i] = static_cast<std::uint8_t>(i * 7 + size);
        messages.push_back(Value::dict({{"blob", blob}, {"size", std::int64_t(size)}}));
    }
    std::vector<Value> received;
    std::thread device([&] {
        for (std::size_t i = 0; i < 2 * messages.size(); ++i) received.push_back(pair.readPacket());
    });
    for (const auto& message : messages) {
        EXPECT_TRUE(pair.service->sendPlistIsBinary(message, false));
        EXPECT_TRUE(pair.service->sendXMLRequest(message));
    }
    device.join();
    ASSERT_EQ(received.size(), 2 * messages.size());
    for (std::size_t i = 0; i < received.size(); ++i) {
        EXPECT_EQ(received[i], messages[i / 2]) << i;
    }

    // A send cut short by a signal once the socket is full goes on where it stopped.
    struct sigaction quiet {};
    struct sigaction before {};
    quiet.sa_handler = [](int) {};  // no SA_RESTART: the send returns what it had sent
    ASSERT_EQ(::sigaction(SIGUSR1, &quiet, &before), 0);
    std::atomic<bool> sending{true};
    std::thread sender([&] {
        EXPECT_TRUE(pair.service->sendPlistIsBinary(messages[0], false));
        sending = false;
    });
    const pthread_t senderThread = sender.native_handle();
    int queued = 0;
    while (::ioctl(pair.service->sock(), SIOCOUTQ, &queued) == 0 && queued < small)
        std::this_thread::yield();
    ::pthread_kill(senderThread, SIGUSR1);
    EXPECT_EQ(pair.readPacket(), messages[0]);
    sender.join();
    EXPECT_FALSE(sending);
    ::sigaction(SIGUSR1, &before, nullptr);

    // Raw packets take the same way out.
    foundation::Data raw(1u << 20, 0x5A);
    raw.back() = 1;
    std::vector<std::uint8_t> arrived;
    std::thread reader([&] {
        const auto prefix = pair.readPeer(4);
        ASSERT_EQ(prefix, lengthPrefix(std::uint32_t(raw.size())));
        arrived = pair.readPeer(raw.size());
    });
    EXPECT_EQ(pair.service->sendDataPacket(raw), long(raw.size()));
    reader.join();
    EXPECT_EQ(arrived, std::vector<std::uint8_t>(raw.begin(), raw.end()));
}

TEST_F(ServiceFraming, EmptyAndOverlongLengthsAreDecodeFailures) {
    struct LengthCase {
        std::uint32_t length;
        const char* name;
    };
    const LengthCase cases[] = {
        {0, "zero"},
        {AMService::kMaxPacketLength + 1, "over the cap"},
        {0xffffffff, "largest"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        pair.writePeer(lengthPrefix(c.length));
        int code = 99;
        EXPECT_TRUE(pair.service->readPlistTimeoutReturnCode(1000, &code).isNil());
        EXPECT_EQ(code, -2);
        pair.service->setLasterror("");
        pair.writePeer(lengthPrefix(c.length));
        EXPECT_TRUE(pair.service->readXMLReplyTimeoutReturnCode(1000, nullptr).isNil());
        // An empty reply is nothing to decode; a length past the cap cannot be.
        EXPECT_EQ(pair.service->lasterror(), c.length == 0 ? "" : "Failed to decode XML reply");
    }
    // A body that is no property list.
    const std::string junk = "not a list";
    pair.writePeer(lengthPrefix(static_cast<std::uint32_t>(junk.size())));
    pair.writePeer({reinterpret_cast<const std::uint8_t*>(junk.data()), junk.size()});
    int code = 99;
    EXPECT_TRUE(pair.service->readPlistTimeoutReturnCode(1000, &code).isNil());
    EXPECT_EQ(code, -2);
    // On the reply path the decoder's own words, or the general ones when it has none.
    pair.writePeer(lengthPrefix(static_cast<std::uint32_t>(junk.size())));
    pair.writePeer({reinterpret_cast<const std::uint8_t*>(junk.data()), junk.size()});
    EXPECT_TRUE(pair.service->readXMLReplyTimeoutReturnCode(1000, nullptr).isNil());
    EXPECT_FALSE(pair.service->lasterror().empty());
}

TEST_F(ServiceFraming, TimeOutsAndClosedPeersGiveTheirCodes) {
    std::uint8_t byte = 0;
    EXPECT_EQ(pair.service->receive(&byte, 1, 30), -60);
    int code = 99;
    EXPECT_TRUE(pair.service->readPlistTimeoutReturnCode(30, &code).isNil());
    EXPECT_EQ(code, -5);
    EXPECT_TRUE(pair.service->readXMLReplyTimeoutReturnCode(30, &code).isNil());
    EXPECT_EQ(code, -60);

    // A packet cut off by the peer is incomplete, not decoded.
    pair.writePeer(lengthPrefix(100));
    const std::uint8_t part[10] = {};
    pair.writePeer(part);
    pair.closePeer();
    EXPECT_TRUE(pair.service->readPlistTimeoutReturnCode(1000, &code).isNil());
    EXPECT_EQ(code, -3);
    EXPECT_EQ(pair.service->receive(&byte, 1, 1000), -54);
    EXPECT_EQ(pair.service->receive(&byte, 1, 0), -54);
}

TEST_F(ServiceFraming, SendingToAClosedPeerFailsWithoutSignal) {
    pair.closePeer();
    EXPECT_EQ(pair.service->sendRawData({1, 2, 3}), -1);
    EXPECT_FALSE(pair.service->lasterror().empty());
    EXPECT_FALSE(pair.service->sendPlistIsBinary(Value::dict({{"a", 1}}), true));
    EXPECT_FALSE(pair.service->sendXMLRequest(Value::dict({{"a", 1}})));
}

TEST_F(ServiceFraming, ARequestWithoutPropertyListFormIsRefused) {
    EXPECT_FALSE(pair.service->sendXMLRequest(Value()));
    EXPECT_EQ(pair.service->lasterror(), "Can't convert request to xml");
    EXPECT_FALSE(pair.service->sendPlistIsBinary(Value::list({Value::null()}), true));
    EXPECT_EQ(pair.service->sendProcessMessage(Value("not a dictionary")), -1);
}

// The device offers a version; the host accepts equal or lower ones and answers with its
// own expected version.
TEST_F(ServiceFraming, DeviceLinkVersionExchange) {
    struct VersionCase {
        Value offer;
        bool accepted;
        const char* error;
    };
    const VersionCase cases[] = {
        {Value::list({"DLMessageVersionExchange", 300, 1}), true, ""},
        {Value::list({"DLMessageVersionExchange", 300, 0}), true, ""},
        {Value::list({"DLMessageVersionExchange", 299, 9}), true, ""},
        {Value::list({"DLMessageVersionExchange", 301, 0}), false,
         "Version mismatch: device=(301, 0) > exepected=(300,1)"},
        {Value::list({"DLMessageVersionExchange", 300, 2}), false,
         "Waring: Version mismatch: device=(300, 2) > exepected=(300,1)"},
        {Value::list({"DLMessageVersionExchange", "300", 1}), false,
         "Can't get correct version from device"},
        {Value::list({"DLMessageVersionExchange", 300}), false, ""},
        {Value::dict({{"x", 1}}), false, "DLMessageVersionExchange has unexpected format!"},
    };
    for (const auto& c : cases) {
        SocketPair link;
        auto device = AMService::withSocket(link.peer, "device");
        link.peer = -1;
        std::thread peer([&] {
            device->sendXMLRequest(c.offer);
            if (!c.accepted) return;
            Value answer = device->readXMLReplyTimeoutReturnCode(2000, nullptr);
            EXPECT_EQ(answer, Value::list({"DLMessageVersionExchange", "DLVersionsOk", 300, 1}));
            device->sendXMLRequest(Value::list({"DLMessageDeviceReady"}));
        });
        EXPECT_EQ(link.service->exchangeVersionMajorMinor(300, 1), c.accepted);
        peer.join();
        EXPECT_EQ(link.service->lasterror(), c.error);
    }
}

TEST_F(ServiceFraming, DeviceLinkMessagesAreRecognised) {
    EXPECT_EQ(AMService::getDLMessage(Value::list({"DLMessageDeviceReady"})),
              "DLMessageDeviceReady");
    EXPECT_FALSE(AMService::getDLMessage(Value::list({"DLShort"})));
    EXPECT_FALSE(AMService::getDLMessage(Value::list({"XXMessageDeviceReady"})));
    EXPECT_FALSE(AMService::getDLMessage(Value::dict({{"DLMessageDeviceReady", 1}})));

    ASSERT_TRUE(pair.service->disconnectWithMessage(std::nullopt));
    EXPECT_EQ(pair.readPacket(), Value::list({"DLMessageDisconnect", "___EmptyParameterString___"}));
}

}  // namespace
