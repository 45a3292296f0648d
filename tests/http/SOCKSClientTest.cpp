// The SOCKS version 5 messages and answers, and the client over a scripted proxy.
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "LoopbackSocket.h"
#include "StreamHarness.h"
#include "platform/net/NetSOCKSMessages.h"

using httptest::drain;
using httptest::receive;
using httptest::ScriptedProxy;
using net::NetSOCKSAnswer;
using net::NetSOCKSMessages;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytes(std::initializer_list<int> values) {
    Bytes out;
    for (int v : values) out.push_back(static_cast<std::uint8_t>(v));
    return out;
}

Bytes operator+(Bytes a, const std::string& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

httptest::Outcome fetchThrough(const ScriptedProxy& proxy, const std::string& url,
                               std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    auto stream = net::NetHTTPStream::create(httptest::message(url));
    net::NetProxySettings settings{"127.0.0.1", proxy.port(), ""};
    settings.kind = net::NetProxySettings::Kind::SOCKS;
    settings.socksTimeLimit = limit;
    stream->setProxy(settings);
    return httptest::run(stream);
}

}  // namespace

TEST(NetSOCKSMessagesTest, RequestsStayWithinTheProtocolsLimits) {
    EXPECT_EQ(NetSOCKSMessages::greeting(false), bytes({5, 1, 0}));
    EXPECT_EQ(NetSOCKSMessages::greeting(true), bytes({5, 2, 0, 2}));
    EXPECT_EQ(NetSOCKSMessages::credentials("al", "pw"), bytes({1, 2}) + "al" + "\x02" + "pw");
    const std::string longest(255, 'u');
    EXPECT_TRUE(NetSOCKSMessages::credentials(longest, longest));
    EXPECT_FALSE(NetSOCKSMessages::credentials(longest + "u", "pw"));
    EXPECT_FALSE(NetSOCKSMessages::credentials("al", longest + "p"));
    EXPECT_FALSE(NetSOCKSMessages::credentials("", "pw"));

    // Names go to the proxy to look up; address literals go as addresses.
    EXPECT_EQ(NetSOCKSMessages::connect({"example.org", 443}),
              bytes({5, 1, 0, 3, 11}) + "example.org" + "\x01\xbb");
    EXPECT_EQ(NetSOCKSMessages::connect({"127.0.0.1", 8080}),
              bytes({5, 1, 0, 1, 127, 0, 0, 1, 0x1f, 0x90}));
    EXPECT_EQ(NetSOCKSMessages::connect({"[::1]", 80}),
              bytes({5, 1, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 80}));
    EXPECT_TRUE(NetSOCKSMessages::connect({std::string(255, 'h'), 80}));
    EXPECT_FALSE(NetSOCKSMessages::connect({std::string(256, 'h'), 80}));
    EXPECT_FALSE(NetSOCKSMessages::connect({"[]", 80}));
}

TEST(NetSOCKSMessagesTest, AnswersAreCheckedAndTheirLengthsNeverTrusted) {
    using State = NetSOCKSAnswer::State;
    struct Case {
        const char* name;
        Bytes answer;
        State state;
        std::size_t length;  // needed, or taken
        int code;            // of a failure
    };
    const std::vector<Case> connectCases = {
        {"empty", {}, State::NeedMore, 5, 0},
        {"IPv4, partial", bytes({5, 0, 0, 1, 127, 0}), State::NeedMore, 10, 0},
        {"IPv4", bytes({5, 0, 0, 1, 127, 0, 0, 1, 0, 80}), State::Done, 10, 0},
        {"IPv6, partial", bytes({5, 0, 0, 4, 0}), State::NeedMore, 22, 0},
        {"name", bytes({5, 0, 0, 3, 2, 'p', 'x', 0, 80}), State::Done, 9, 0},
        // What follows the answer is the server's, not the answer's.
        {"name, then data", bytes({5, 0, 0, 3, 1, 'p', 0, 80}) + "HTTP", State::Done, 8, 0},
        {"longest name, partial", bytes({5, 0, 0, 3, 255}), State::NeedMore, 262, 0},
        {"empty name", bytes({5, 0, 0, 3, 0, 0, 80}), State::Failed, 0, 121},
        {"unknown address type", bytes({5, 0, 0, 9, 0}), State::Failed, 0, 121},
        {"refused", bytes({5, 5, 0, 1, 0}), State::Failed, 0, 125},
        {"version 4", bytes({0, 0x5a, 0, 80, 127}), State::Failed, 0, 101},
    };
    for (const auto& c : connectCases) {
        SCOPED_TRACE(c.name);
        auto answer = NetSOCKSMessages::parseConnectAnswer(c.answer);
        EXPECT_EQ(answer.state, c.state);
        if (c.state == State::Failed) {
            ASSERT_TRUE(answer.error);
            EXPECT_EQ(answer.error->code, c.code);
        } else {
            EXPECT_EQ(answer.length, c.length);
        }
    }
    auto refused = NetSOCKSMessages::parseConnectAnswer(bytes({5, 5, 0, 1, 0}));
    EXPECT_NE(refused.error->message.find("connection refused"), std::string::npos);

    EXPECT_EQ(NetSOCKSMessages::parseGreetingAnswer(bytes({5}), false).state, State::NeedMore);
    EXPECT_EQ(NetSOCKSMessages::parseGreetingAnswer(bytes({5, 0}), false).state, State::Done);
    auto password = NetSOCKSMessages::parseGreetingAnswer(bytes({5, 2}), true);
    EXPECT_EQ(password.method, NetSOCKSMessages::MethodUsernamePassword);
    // A method the client did not offer, or none at all, ends the exchange.
    EXPECT_EQ(NetSOCKSMessages::parseGreetingAnswer(bytes({5, 2}), false).error->code, 123);
    EXPECT_EQ(NetSOCKSMessages::parseGreetingAnswer(bytes({5, 0xff}), false).error->code, 124);
    EXPECT_EQ(NetSOCKSMessages::parseGreetingAnswer(bytes({4, 0}), false).error->code, 101);

    EXPECT_EQ(NetSOCKSMessages::parseCredentialsAnswer(bytes({1, 0})).state, State::Done);
    EXPECT_EQ(NetSOCKSMessages::parseCredentialsAnswer(bytes({1, 1})).error->code, 122);
    EXPECT_EQ(NetSOCKSMessages::parseCredentialsAnswer(bytes({9, 0})).error->code, 120);
}

TEST(NetSOCKSClientTest, TheProxyConnectsByNameAndTheServersBytesFollowItsAnswer) {
    std::string request;
    ScriptedProxy proxy([&](int client) {
        request = receive(client, 3);
        httptest::sendAll(client, std::string("\x05\x00", 2));
        request += receive(client, 5 + 14 + 2);
        // The answer names the proxy's side, and the server's answer comes in the same write.
        httptest::sendAll(client, std::string("\x05\x00\x00\x03\x05proxy\x04\x38", 12) +
                                      "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n"
                                      "Connection: close\r\n\r\nhi");
        drain(client);
    });
    auto out = fetchThrough(proxy, "http://origin.invalid:8080/page");
    EXPECT_FALSE(out.error) << out.error->message;
    EXPECT_EQ(out.status, 200);
    EXPECT_EQ(out.body, "hi");
    EXPECT_EQ(request, std::string("\x05\x01\x00\x05\x01\x00\x03\x0e", 8) + "origin.invalid" +
                           std::string("\x1f\x90", 2));
}

TEST(NetSOCKSClientTest, ASilentRefusingOrVanishingProxyFailsTheStream) {
    struct Case {
        const char* name;
        std::function<void(int)> script;
        const char* domain;
        int code;
    };
    const std::vector<Case> cases = {
        {"silent", [](int client) { drain(client); }, net::NetPOSIXErrorDomain, ETIMEDOUT},
        {"refused",
         [](int client) {
             receive(client, 3);
             httptest::sendAll(client, std::string("\x05\x00", 2));
             receive(client, 10);
             httptest::sendAll(client, std::string("\x05\x05\x00\x01\0\0\0\0\0\0", 10));
             drain(client);
         },
         net::NetCFNetworkErrorDomain, net::NetErrorSOCKS5RequestFailed},
        {"gone mid-answer",
         [](int client) {
             receive(client, 3);
             httptest::sendAll(client, std::string("\x05", 1));
         },
         net::NetCFNetworkErrorDomain, net::NetErrorNetworkConnectionLost},
        {"wants a password",
         [](int client) {
             receive(client, 3);
             httptest::sendAll(client, std::string("\x05\xff", 2));
             drain(client);
         },
         net::NetCFNetworkErrorDomain, net::NetErrorSOCKS5NoAcceptableMethod},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedProxy proxy(c.script);
        auto out = fetchThrough(proxy, "http://127.0.0.1:1/", std::chrono::milliseconds(300));
        ASSERT_TRUE(out.error);
        EXPECT_EQ(out.error->domain, c.domain);
        EXPECT_EQ(out.error->code, c.code) << out.error->message;
    }
}
