#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "LoopbackSocket.h"
#include "StreamHarness.h"
#include "http/NetBandwidthThrottle.h"
#include "http/NetInputStream.h"
#include "support/httpserver/TestHttpServer.h"

using httptest::message;
using httptest::run;
using net::NetHTTPStream;
using testsupport::ReceivedRequest;
using testsupport::ScriptedAnswer;
using testsupport::TestHttpServer;

namespace {

ScriptedAnswer raw(std::string bytes, ScriptedAnswer::Then then = ScriptedAnswer::Then::KeepOpen) {
    ScriptedAnswer answer;
    answer.raw = std::move(bytes);
    answer.then = then;
    return answer;
}

// Each case is one scripted answer and what the stream must make of it.
struct FramingCase {
    const char* name;
    std::string method;
    ScriptedAnswer answer;
    bool ends;  // false: the stream fails
    int status;
    std::string body;
    bool kept;  // the connection is kept for the next request
};

}  // namespace

TEST(HTTPStream, FramesResponsesAndKeepsOnlyCleanConnections) {
    using Then = ScriptedAnswer::Then;
    const std::vector<FramingCase> cases = {
        {"content length", "GET", ScriptedAnswer::ok("hello"), true, 200, "hello", true},
        {"chunked", "GET",
         raw("HTTP/1.1 200 OK\r\nTransfer-Encoding: "
             "chunked\r\n\r\n3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n"),
         true, 200, "abcde", true},
        {"ended by close", "GET", raw("HTTP/1.1 200 OK\r\n\r\nto the end", Then::Close), true, 200,
         "to the end", false},
        {"HEAD", "HEAD", raw("HTTP/1.1 200 OK\r\nContent-Length: 50\r\n\r\n"), true, 200, "", true},
        {"204", "GET", raw("HTTP/1.1 204 No Content\r\n\r\n"), true, 204, "", true},
        {"304", "GET", raw("HTTP/1.1 304 Not Modified\r\nContent-Length: 10\r\n\r\n"), true, 304,
         "", true},
        {"100-continue first", "GET",
         raw("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"), true,
         200, "ok", true},
        {"server closes after its answer", "GET",
         raw("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", Then::Close), true, 200, "ok", true},
        {"Connection: close", "GET",
         raw("HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 2\r\n\r\nok"), true, 200,
         "ok", false},
        {"early end of a length", "GET",
         raw("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc", Then::Close), false, 200, "",
         false},
        {"early end of chunks", "GET",
         raw("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n", Then::Close),
         false, 200, "", false},
        {"reset", "GET", raw("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc", Then::Reset),
         false, 200, "", false},
        {"garbage", "GET", raw("NOT HTTP AT ALL\r\n\r\n"), false, 0, "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestHttpServer server([&](const ReceivedRequest&) { return c.answer; });
        auto stream = NetHTTPStream::create(message(server.url("/frame"), c.method));
        stream->setPersistentConnection(1000);
        auto out = run(stream);
        EXPECT_EQ(out.ended, c.ends);
        EXPECT_EQ(out.error.has_value(), !c.ends);
        if (c.ends) {
            EXPECT_EQ(out.status, c.status);
            EXPECT_EQ(out.body, c.body);
        }
        EXPECT_EQ(out.kept, c.kept);
        // The "server closes" case is kept at first; the next stream then finds it unusable.
        NetHTTPStream::closeIdleConnection(1000);
    }
}

TEST(HTTPStream, EarlyEndIsAConnectionLostError) {
    TestHttpServer server([](const ReceivedRequest&) {
        return raw("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly this",
                   ScriptedAnswer::Then::Close);
    });
    auto out = run(NetHTTPStream::create(message(server.url())));
    ASSERT_TRUE(out.error);
    EXPECT_EQ(out.error->domain, net::NetCFNetworkErrorDomain);
    EXPECT_EQ(out.error->code, net::NetErrorNetworkConnectionLost);
}

TEST(HTTPStream, StreamsWithTheSameIdShareOneConnection) {
    std::atomic<int> served{0};
    TestHttpServer server(
        [&](const ReceivedRequest&) { return ScriptedAnswer::ok("n" + std::to_string(++served)); });
    for (int i = 1; i <= 3; ++i) {
        auto stream = NetHTTPStream::create(message(server.url("/again")));
        stream->setPersistentConnection(7);
        auto out = run(stream);
        EXPECT_EQ(out.body, "n" + std::to_string(i));
        EXPECT_EQ(out.reused, i > 1);
    }
    EXPECT_EQ(server.acceptedConnections(), 1);
    // A stream with another id, or none, opens its own.
    auto other = NetHTTPStream::create(message(server.url("/other")));
    other->setPersistentConnection(8);
    run(other);
    run(NetHTTPStream::create(message(server.url("/none"))));
    EXPECT_EQ(server.acceptedConnections(), 3);
    NetHTTPStream::closeIdleConnection(7);
    NetHTTPStream::closeIdleConnection(8);
}

TEST(HTTPStream, IdleConnectionClosedByTheServerIsNotReused) {
    TestHttpServer server([](const ReceivedRequest&) {
        return raw("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", ScriptedAnswer::Then::Close);
    });
    auto first = NetHTTPStream::create(message(server.url()));
    first->setPersistentConnection(11);
    run(first);
    // Wait until the server's close has reached us, by its side of the story: the next
    // stream must not reuse the closed connection either way.
    auto second = NetHTTPStream::create(message(server.url()));
    second->setPersistentConnection(11);
    auto out = run(second);
    if (out.reused) {
        // The close raced the check: the reused exchange fails as a lost connection.
        ASSERT_TRUE(out.error);
        EXPECT_EQ(out.error->code, net::NetErrorNetworkConnectionLost);
    } else {
        EXPECT_EQ(out.body, "ok");
        EXPECT_EQ(server.acceptedConnections(), 2);
    }
    NetHTTPStream::closeIdleConnection(11);
}

TEST(HTTPStream, SendsHeadersAndStreamedBodyAndCountsUploadBandwidth) {
    TestHttpServer server([](const ReceivedRequest& request) {
        return ScriptedAnswer::ok(std::to_string(request.body.size()));
    });
    auto body = std::make_shared<foundation::Data>(300000);
    for (std::size_t i = 0; i < body->size(); ++i) (*body)[i] = static_cast<std::uint8_t>(i * 7);
    NetBandwidthThrottle throttle;
    auto input = NetInputStream::inputStreamWithData(body, nullptr, throttle);
    input->open();
    auto m = message(server.url("/upload?x=1"), "POST");
    m.headers = {{"X-Test", "one"}, {"X-Test", "two"}};
    m.bodyLength = body->size();
    auto stream = NetHTTPStream::create(
        m, [&](std::uint8_t* buffer, std::size_t length) { return input->read(buffer, length); });
    auto out = run(stream);
    EXPECT_EQ(out.body, "300000");
    EXPECT_EQ(stream->bytesWritten(), body->size());
    throttle.measureBandwidthUsage();
    EXPECT_EQ(throttle.averageBandwidthUsedPerSecond(), body->size());
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].target, "/upload?x=1");
    EXPECT_EQ(requests[0].header("Host"), "127.0.0.1:" + std::to_string(server.port()));
    EXPECT_EQ(requests[0].body, std::string(body->begin(), body->end()));
    int tests = 0;
    for (const auto& [name, value] : requests[0].headers) tests += name == "X-Test";
    EXPECT_EQ(tests, 2);
}

TEST(HTTPStream, RefusesHeaderInjectionAndUnknownSchemes) {
    auto injected = message("http://127.0.0.1:9/");
    injected.headers = {{"X-Evil", "a\r\nHost: elsewhere"}};
    EXPECT_FALSE(NetHTTPStream::create(injected)->open());
    EXPECT_FALSE(NetHTTPStream::create(message("ftp://127.0.0.1/"))->open());
    EXPECT_FALSE(NetHTTPStream::create(message("http://127.0.0.1/", "GET /x"))->open());
}

TEST(HTTPStream, ConnectionFailuresAreErrors) {
    int port;
    {
        TestHttpServer closed([](const ReceivedRequest&) { return ScriptedAnswer::ok(""); });
        port = closed.port();
    }
    auto out =
        run(NetHTTPStream::create(message("http://127.0.0.1:" + std::to_string(port) + "/")));
    ASSERT_TRUE(out.error);
    EXPECT_EQ(out.error->domain, net::NetPOSIXErrorDomain);
    EXPECT_EQ(out.error->code, ECONNREFUSED);
}

TEST(HTTPStream, WorksOverIPv6Loopback) {
    TestHttpServer::Options options;
    options.ipv6 = true;
    std::unique_ptr<TestHttpServer> server;
    try {
        server = std::make_unique<TestHttpServer>(
            [](const ReceivedRequest&) { return ScriptedAnswer::ok("six"); }, options);
    } catch (const std::exception&) {
        GTEST_SKIP() << "no IPv6 loopback here";
    }
    auto out = run(NetHTTPStream::create(message(server->url("/v6"))));
    EXPECT_EQ(out.body, "six");
}

TEST(HTTPStream, HttpProxyGetsAbsoluteTargets) {
    TestHttpServer proxy(
        [](const ReceivedRequest& request) { return ScriptedAnswer::ok(request.target); });
    auto stream = NetHTTPStream::create(message("http://example.invalid:8080/path?q=1"));
    stream->setProxy(net::NetProxySettings{"127.0.0.1", proxy.port(), ""});
    auto out = run(stream);
    EXPECT_EQ(out.body, "http://example.invalid:8080/path?q=1");
    EXPECT_EQ(proxy.requests().at(0).header("Host"), "example.invalid:8080");
}

TEST(HTTPStream, UnscheduledStreamWaitsAndResumesWhenScheduledAgain) {
    TestHttpServer server(
        [](const ReceivedRequest&) { return ScriptedAnswer::ok(std::string(200000, 'x')); });
    auto stream = NetHTTPStream::create(message(server.url()));
    std::string body;
    bool ended = false;
    int events = 0;
    stream->setClient(net::NetStreamEventMaskReadStream, [&](net::NetStreamEvent event) {
        ++events;
        if (event == net::NetStreamEventEndEncountered) ended = true;
        std::uint8_t buffer[4096];
        std::ptrdiff_t n;
        while ((n = stream->read(buffer, sizeof buffer)) > 0)
            body.append(reinterpret_cast<char*>(buffer), n);
    });
    auto& loop = net::NetRunLoop::current();
    stream->scheduleInRunLoop(loop, httptest::TestMode);
    ASSERT_TRUE(stream->open());
    // Until the first bytes arrive, then take the stream off the loop.
    while (events == 0) loop.runOnce(httptest::TestMode, std::chrono::seconds(5));
    stream->unscheduleFromRunLoop();
    int before = events;
    loop.runOnce(httptest::TestMode, std::chrono::milliseconds(50));
    EXPECT_EQ(events, before);
    stream->scheduleInRunLoop(loop, httptest::TestMode);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!ended && std::chrono::steady_clock::now() < deadline)
        loop.runOnce(httptest::TestMode, std::chrono::seconds(1));
    EXPECT_TRUE(ended);
    EXPECT_EQ(body.size(), 200000u);
}

// The end follows the last bytes the client takes, and is told once; a client that takes
// the stream off the loop while it reads them hears of the end only once it puts the
// stream back.
TEST(HTTPStream, TheEndIsToldOnceAfterTheLastBytesAndOnlyWhileScheduled) {
    constexpr std::size_t Size = 3000;
    TestHttpServer server(
        [](const ReceivedRequest&) { return ScriptedAnswer::ok(std::string(Size, 'x')); });
    auto& loop = net::NetRunLoop::current();
    const auto turn = std::chrono::seconds(1);
    const auto quiet = std::chrono::milliseconds(50);
    for (bool offTheLoop : {false, true}) {
        SCOPED_TRACE(offTheLoop ? "taken off the loop" : "left on the loop");
        auto stream = NetHTTPStream::create(message(server.url()));
        std::vector<std::string> events;
        std::string body;
        stream->setClient(net::NetStreamEventMaskReadStream, [&](net::NetStreamEvent event) {
            if (event != net::NetStreamEventHasBytesAvailable) {
                events.push_back(event == net::NetStreamEventEndEncountered ? "end" : "error");
                return;
            }
            events.push_back("bytes");
            // A little at a time: the rest is told again.
            std::uint8_t buffer[1000];
            std::ptrdiff_t n = stream->read(buffer, sizeof buffer);
            if (n > 0) body.append(reinterpret_cast<char*>(buffer), static_cast<std::size_t>(n));
            if (offTheLoop && body.size() == Size) stream->unscheduleFromRunLoop();
        });
        stream->scheduleInRunLoop(loop, httptest::TestMode);
        ASSERT_TRUE(stream->open());
        for (int i = 0; i < 100 && body.size() < Size; ++i) loop.runOnce(httptest::TestMode, turn);
        ASSERT_EQ(body.size(), Size);
        if (offTheLoop) {
            EXPECT_EQ(loop.runOnce(httptest::TestMode, quiet), net::NetRunLoop::Result::TimedOut);
            EXPECT_EQ(events.back(), "bytes");
            stream->scheduleInRunLoop(loop, httptest::TestMode);
        }
        for (int i = 0; i < 100 && events.back() != "end"; ++i)
            loop.runOnce(httptest::TestMode, turn);
        EXPECT_EQ(events.back(), "end");
        EXPECT_EQ(loop.runOnce(httptest::TestMode, quiet), net::NetRunLoop::Result::TimedOut);
        EXPECT_EQ(std::count(events.begin(), events.end(), "end"), 1);
        EXPECT_EQ(std::count(events.begin(), events.end(), "error"), 0);
        stream->setClient(0, {});
    }
}

TEST(HTTPStream, ClosingInterruptsAConnectionThatWaits) {
    // A plain server never answers the TLS greeting: the handshake waits until closed.
    TestHttpServer server([](const ReceivedRequest&) { return ScriptedAnswer::ok(""); });
    auto stream =
        NetHTTPStream::create(message("https://127.0.0.1:" + std::to_string(server.port()) + "/"));
    int events = 0;
    stream->setClient(net::NetStreamEventMaskReadStream, [&](net::NetStreamEvent) { ++events; });
    auto& loop = net::NetRunLoop::current();
    stream->scheduleInRunLoop(loop, httptest::TestMode);
    ASSERT_TRUE(stream->open());
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (server.acceptedConnections() == 0 && std::chrono::steady_clock::now() < deadline) {
        loop.runOnce(httptest::TestMode, std::chrono::milliseconds(10));
    }
    ASSERT_EQ(server.acceptedConnections(), 1);
    stream->close();
    EXPECT_EQ(stream->streamStatus(), NetHTTPStream::Status::Closed);
    loop.runOnce(httptest::TestMode, std::chrono::milliseconds(20));
    EXPECT_EQ(events, 0);
}

namespace {

// One connection whose first request is answered at once and whose second goes to `second`,
// which is given the client's socket; the server then closes it.
class SecondAnswerServer {
public:
    explicit SecondAnswerServer(std::function<void(int client)> second)
        : listener_(httptest::listenOnLoopback(port_)), thread_([this, second] {
              int client = ::accept(listener_, nullptr, nullptr);
              httptest::readRequestHead(client);
              httptest::sendAll(client, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
              httptest::readRequestHead(client);
              second(client);
              ::close(client);
          }) {}
    ~SecondAnswerServer() {
        thread_.join();
        ::close(listener_);
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }

private:
    std::uint16_t port_ = 0;
    int listener_;
    std::thread thread_;
};

std::shared_ptr<NetHTTPStream> onConnection(const std::string& url, int id) {
    auto stream = NetHTTPStream::create(message(url));
    stream->setPersistentConnection(id);
    return stream;
}

}  // namespace

// The answer on a reused connection is waited for without a read tried first: each way it
// can come, or not come, still reaches the stream.
TEST(HTTPStream, AReusedConnectionHearsHowItsAnswerEnds) {
    std::promise<void> restAllowed;
    SecondAnswerServer pieces([&](int client) {
        httptest::sendAll(client, "HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nabc");
        restAllowed.get_future().wait();
        httptest::sendAll(client, "def");
    });
    ASSERT_EQ(run(onConnection(pieces.url(), 31)).body, "ok");
    auto second = onConnection(pieces.url(), 31);
    std::string body;
    bool ended = false;
    second->setClient(net::NetStreamEventMaskReadStream, [&](net::NetStreamEvent event) {
        std::uint8_t buffer[16];
        std::ptrdiff_t n;
        while ((n = second->read(buffer, sizeof buffer)) > 0)
            body.append(reinterpret_cast<char*>(buffer), static_cast<std::size_t>(n));
        // The rest is sent only once the first piece was heard.
        if (body == "abc") restAllowed.set_value();
        ended = ended || event == net::NetStreamEventEndEncountered;
    });
    auto& loop = net::NetRunLoop::current();
    second->scheduleInRunLoop(loop, httptest::TestMode);
    ASSERT_TRUE(second->open());
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!ended && std::chrono::steady_clock::now() < deadline)
        loop.runOnce(httptest::TestMode, std::chrono::seconds(1));
    EXPECT_TRUE(second->reusedConnection());
    EXPECT_EQ(body, "abcdef");
    second->setClient(0, {});
    NetHTTPStream::closeIdleConnection(31);

    for (bool reset : {false, true}) {
        SCOPED_TRACE(reset ? "reset" : "closed");
        SecondAnswerServer silent([reset](int client) {
            linger abort{1, 0};
            if (reset) ::setsockopt(client, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        });
        ASSERT_EQ(run(onConnection(silent.url(), 32)).body, "ok");
        auto out = run(onConnection(silent.url(), 32));
        EXPECT_TRUE(out.reused);
        ASSERT_TRUE(out.error);
        EXPECT_EQ(out.error->code, net::NetErrorNetworkConnectionLost);
    }
}

// A stream closed while it waits for its answer on a reused connection hears nothing more
// and lets the socket go; so does one whose thread, and with it the loop, ends meanwhile.
TEST(HTTPStream, AWaitOnAReusedConnectionEndsWithTheStreamOrItsLoop) {
    for (bool loopEnds : {false, true}) {
        SCOPED_TRACE(loopEnds ? "loop ends" : "stream closed");
        std::promise<void> clientGone;
        SecondAnswerServer never([&](int client) {
            char byte;
            EXPECT_EQ(::recv(client, &byte, 1, 0), 0);
            clientGone.set_value();
        });
        std::thread([&] {
            ASSERT_EQ(run(onConnection(never.url(), 33)).body, "ok");
            auto waiting = onConnection(never.url(), 33);
            int events = 0;
            waiting->setClient(net::NetStreamEventMaskReadStream,
                               [&](net::NetStreamEvent) { ++events; });
            auto& loop = net::NetRunLoop::current();
            waiting->scheduleInRunLoop(loop, httptest::TestMode);
            ASSERT_TRUE(waiting->open());
            ASSERT_TRUE(waiting->reusedConnection());
            loop.runOnce(httptest::TestMode, std::chrono::milliseconds(20));
            if (loopEnds) return;
            waiting->close();
            loop.runOnce(httptest::TestMode, std::chrono::milliseconds(20));
            EXPECT_EQ(events, 0);
        }).join();
        clientGone.get_future().wait();
    }
}
