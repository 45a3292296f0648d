// The idle time-out while a body waits to be sent and while an answer trickles in, and the
// switch that keeps method and body across a 301 or 302.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "LoopbackSocket.h"
#include "RequestRunning.h"
#include "http/NetHTTPRequest.h"
#include "support/httpserver/TestHttpServer.h"

using namespace std::chrono_literals;
using foundation::Url;
using httptest::errorCode;
using testsupport::ReceivedRequest;
using testsupport::ScriptedAnswer;
using testsupport::TestHttpServer;

namespace {

// A peer on 127.0.0.1 for one connection, played out by `script` on a thread of its own.
class ScriptedPeer {
public:
    explicit ScriptedPeer(std::function<void(int client)> script, int receiveBuffer = 0) {
        listener_ = httptest::listenOnLoopback(port_, receiveBuffer);
        thread_ = std::thread([this, script = std::move(script)] {
            int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) return;
            script(client);
            ::close(client);
        });
    }
    ~ScriptedPeer() {
        ::shutdown(listener_, SHUT_RDWR);
        thread_.join();
        ::close(listener_);
    }
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }

private:
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::thread thread_;
};

// Reads a request whose body has `length` bytes; the count of body bytes read.
std::size_t readRequest(int client, std::size_t length) {
    std::string head;
    char buffer[65536];
    std::size_t body = 0;
    while (head.find("\r\n\r\n") == std::string::npos) {
        ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
        if (n <= 0) return body;
        head.append(buffer, static_cast<std::size_t>(n));
    }
    body = head.size() - (head.find("\r\n\r\n") + 4);
    while (body < length) {
        ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        body += static_cast<std::size_t>(n);
    }
    return body;
}

}  // namespace

// While no more than the first buffer of a body has gone out, the time-out waits half as
// long again: a server that reads nothing for 1.25 times the time-out still gets the body.
TEST(TimeOut, ABodyWaitingToGoOutGetsHalfAsLongAgain) {
    const std::size_t length = 16 * 1024 * 1024;
    std::size_t received = 0;
    {
        ScriptedPeer peer(
            [&](int client) {
                std::this_thread::sleep_for(5s);  // the server is busy elsewhere
                received = readRequest(client, length);
                httptest::sendAll(client, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
            },
            64 * 1024);
        auto request = NetHTTPRequest::requestWithURL(Url::parse(peer.url()));
        request->appendPostData(std::string(length, 'b'));
        request->setTimeOutSeconds(4);
        request->startSynchronous();
        EXPECT_EQ(errorCode(*request), 0);
        EXPECT_EQ(request->responseString(), "ok");
    }
    EXPECT_EQ(received, length);
}

// Bytes arriving a quarter of a second apart keep the request alive well past its time-out.
TEST(TimeOut, AServerSendingSlowlyButSteadilyNeverTimesOut) {
    const std::string body = "slow but steady!";
    ScriptedPeer peer([&](int client) {
        readRequest(client, 0);
        if (!httptest::sendAll(client, "HTTP/1.1 200 OK\r\nContent-Length: " +
                                           std::to_string(body.size()) + "\r\n\r\n"))
            return;
        for (char c : body) {
            std::this_thread::sleep_for(250ms);
            if (!httptest::sendAll(client, std::string(1, c))) return;
        }
    });
    auto request = NetHTTPRequest::requestWithURL(Url::parse(peer.url()));
    request->setTimeOutSeconds(2);  // half of what the whole answer takes
    request->startSynchronous();
    EXPECT_EQ(errorCode(*request), 0);
    EXPECT_EQ(request->responseString(), body);
}

// With the switch on, 301 and 302 carry method, body and headers to the new address as 307
// does; 303 turns the request into a GET in any case.
TEST(Redirects, TheRFC2616SwitchKeepsMethodAndBodyOn301And302) {
    TestHttpServer server([](const ReceivedRequest& r) {
        if (r.target == "/landing") return ScriptedAnswer::ok("landed");
        ScriptedAnswer moved;
        moved.raw = "HTTP/1.1 " + r.target.substr(1) +
                    " Moved\r\nLocation: /landing\r\nContent-Length: 0\r\n\r\n";
        return moved;
    });
    struct Case {
        const char* status;
        bool rfc2616;
        std::string method, body;
        std::optional<std::string> custom;
    };
    const Case cases[] = {
        {"301", true, "POST", "payload", "yes"}, {"302", true, "POST", "payload", "yes"},
        {"303", true, "GET", "", std::nullopt},  {"301", false, "GET", "", std::nullopt},
        {"302", false, "GET", "", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.status) + (c.rfc2616 ? " with the switch" : " without it"));
        auto request = NetHTTPRequest::requestWithURL(Url::parse(server.url("/") + c.status));
        request->setShouldUseRFC2616RedirectBehaviour(c.rfc2616);
        request->appendPostData(std::string_view("payload"));
        request->addRequestHeader("X-Custom", "yes");
        request->startSynchronous();
        ASSERT_EQ(errorCode(*request), 0);
        EXPECT_EQ(request->responseString(), "landed");
        EXPECT_EQ(request->redirectCount(), 1);
        const auto landing = server.requests().back();
        EXPECT_EQ(landing.target, "/landing");
        EXPECT_EQ(landing.method, c.method);
        EXPECT_EQ(landing.body, c.body);
        EXPECT_EQ(landing.header("X-Custom"), c.custom);
    }
}
