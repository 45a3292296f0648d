#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "SocketPair.h"
#include "device/AMFileRelay.h"
#include "device/FormatString.h"
#include "device/SocketCheck.h"
#include "logging/CapturingLogger.h"

using devicetest::lengthPrefix;
using devicetest::SocketPair;
using foundation::Value;

namespace {

std::shared_ptr<AMFileRelay> relayOver(SocketPair& pair) {
    // The relay takes over a second socket pair end of its own: the test plays the device.
    int fds[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    pair.closePeer();
    pair.peer = fds[1];
    return AMFileRelay::withSocket(fds[0]);
}

TEST(ServiceReadStream, OnlyAValidServiceHasOneAndItReadsToTheEnd) {
    AMService unstarted;
    EXPECT_EQ(unstarted.inputStreamFromSocket(), nullptr);

    SocketPair pair;
    auto stream = pair.service->inputStreamFromSocket();
    ASSERT_NE(stream, nullptr);
    char byte = 0;
    EXPECT_EQ(stream->read(&byte, 1), -1) << "a stream reads only once opened";
    ASSERT_TRUE(stream->open());
    pair.writePeer(std::vector<std::uint8_t>{'a', 'b', 'c'});
    pair.closePeer();
    std::string got;
    char chunk[2];
    for (long count; (count = stream->read(chunk, sizeof chunk)) > 0;) got.append(chunk, count);
    EXPECT_EQ(got, "abc");
    EXPECT_EQ(stream->read(chunk, sizeof chunk), 0);
}

TEST(FileRelaySlurp, CopiesEverythingUntilTheDeviceClosesAndSaysWhyItStopped) {
    SocketPair pair;
    auto relay = relayOver(pair);
    std::string archive(5000, '\0');
    for (std::size_t i = 0; i < archive.size(); ++i) archive[i] = static_cast<char>(i * 7);
    pair.writePeer({reinterpret_cast<const std::uint8_t*>(archive.data()), archive.size()});
    pair.closePeer();
    relay->setLasterror("earlier");
    std::ostringstream out;
    ASSERT_TRUE(relay->slurpInto(out));
    EXPECT_EQ(out.str(), archive);
    EXPECT_EQ(relay->lasterror(), "");

    // A stream that takes nothing: the first chunk read is counted as lost.
    SocketPair second;
    auto refused = relayOver(second);
    second.writePeer(std::vector<std::uint8_t>(3000, 'x'));
    second.closePeer();
    std::ostream broken(nullptr);
    EXPECT_FALSE(refused->slurpInto(broken));
    EXPECT_EQ(refused->lasterror(), "File truncated on write, nr=1024 nw=0");

}

// Device sockets do not block: a read that comes before the device's bytes waits for them.
TEST(FileRelaySlurp, WaitsForABlockFreeSocketsBytes) {
    SocketPair pair;
    auto relay = relayOver(pair);
    ASSERT_EQ(::fcntl(relay->sock(), F_SETFL, ::fcntl(relay->sock(), F_GETFL) | O_NONBLOCK), 0);
    std::thread device([&] {
        pair.writePeer(std::vector<std::uint8_t>(2000, 'z'));
        pair.closePeer();
    });
    std::ostringstream out;
    EXPECT_TRUE(relay->slurpInto(out)) << relay->lasterror();
    device.join();
    EXPECT_EQ(out.str(), std::string(2000, 'z'));
}

TEST(FormatString, FormatsOrGivesTheEmptyText) {
    EXPECT_EQ(fmtstr(16, "{} of {}", 3, "ten"), "3 of ten");
    EXPECT_EQ(fmtstr(16, "{} of {}", 3), "");
    EXPECT_EQ(fmtstr(0, "{:d}", "text"), "");
}

class ServiceLogLines : public SharedHubTest {
protected:
    void SetUp() override {
        SharedHubTest::SetUp();
        lgLogLevel.store(LgLogFlagError | LgLogFlagWarning | LgLogFlagInfo);
    }
    std::vector<std::string> lines() {
        LgLog::sharedInstance().flushLog();
        return logger->texts();
    }
    bool logged(const std::string& text) {
        const auto all = lines();
        return std::find(all.begin(), all.end(), text) != all.end();
    }
    SocketPair pair;
};

TEST_F(ServiceLogLines, RawPacketReadsTellTheirSteps) {
    auto xml = foundation::plist::writeXml(Value::dict({{"Command", "Polo"}}));
    pair.writePeer(lengthPrefix(static_cast<std::uint32_t>(xml->size())));
    pair.writePeer({reinterpret_cast<const std::uint8_t*>(xml->data()), xml->size()});
    int code = 99;
    EXPECT_FALSE(pair.service->readPlistTimeoutReturnCode(1000, &code).isNil());
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(logged("test.service intial read=4"));
    EXPECT_TRUE(logged(fmt::format("test.service {} bytes following", xml->size())));
    EXPECT_TRUE(logged(fmt::format("test.service received {} bytes", xml->size())));

    pair.writePeer(lengthPrefix(100));
    pair.writePeer(std::vector<std::uint8_t>(10, 'p'));
    pair.closePeer();
    EXPECT_TRUE(pair.service->readPlistTimeoutReturnCode(1000, &code).isNil());
    EXPECT_EQ(code, -3);
    EXPECT_TRUE(logged("test.service received incomplete packet (10 of 100 bytes)"));
    EXPECT_TRUE(logged("test.service incomplete packet following:"));
}

TEST_F(ServiceLogLines, FailedSendsAndBadDescriptorsAreErrors) {
    pair.closePeer();
    EXPECT_FALSE(pair.service->sendPlistIsBinary(Value::dict({{"a", 1}}), true));
    EXPECT_TRUE(logged("[ERROR] ERROR: sending to device failed."));
    char byte = 0;
    AMService unstarted;
    EXPECT_EQ(unstarted.receive(&byte, 1, 10), -1);
    EXPECT_TRUE(logged("[ERROR] ERROR: invalid fd in check_fd -1"));
}

// A wait the system refuses outright (here: more descriptors than the process may have)
// fails with the system's words.
TEST_F(ServiceLogLines, AWaitTheSystemRefusesFailsWithItsReason) {
#if defined(__SANITIZE_ADDRESS__)
    // The undefined-behaviour checker opens a pipe to check an object's type, which the
    // lowered limit refuses: it would report every object as of no type.
    GTEST_SKIP() << "the sanitizers' own checks need descriptors while none may be opened";
#endif
    const int fd = pair.peer;
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit none = saved;
    none.rlim_cur = 0;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &none), 0);
    const int result = socket_check_fd(fd, FDM_READ, 100);
    const int failure = errno;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
    EXPECT_EQ(result, -1);
    EXPECT_TRUE(logged(fmt::format("Error> socket_check_fd: select failed: {}",
                                   std::strerror(failure))))
        << ::testing::PrintToString(lines());
}

}  // namespace
