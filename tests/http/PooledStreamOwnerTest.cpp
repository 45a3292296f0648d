// A pooled stream is closed only by the thread that ran it, also when a request on another
// thread finds its connection expired.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "http/NetConnectionPool.h"
#include "http/NetHTTPRequest.h"
#include "platform/net/NetHTTPStream.h"
#include "platform/net/NetRunLoop.h"
#include "support/httpserver/TestHttpServer.h"

using namespace std::chrono_literals;
using foundation::Url;
using testsupport::ScriptedAnswer;

namespace {

// A request whose connection, kept by the server, expires the moment the request ends.
std::shared_ptr<NetHTTPRequest> runExpiringAtOnce(const std::string& url) {
    auto request = NetHTTPRequest::requestWithURL(Url::parse(url));
    request->setPersistentConnectionTimeoutSeconds(0);
    request->startSynchronous();
    return request;
}

std::shared_ptr<net::NetHTTPStream> pooledStreamOf(const NetHTTPRequest& request) {
    auto id = request.connectionID();
    if (!id) return nullptr;
    for (const auto& record : NetConnectionPool::shared().records()) {
        if (record->id == *id) return record->stream;
    }
    return nullptr;
}

}  // namespace

TEST(PooledStreamOwner, AnotherThreadLeavesTheCloseToTheStreamsOwnThread) {
    testsupport::TestHttpServer server(
        [](const testsupport::ReceivedRequest&) { return ScriptedAnswer::ok("kept"); });
    auto mine = runExpiringAtOnce(server.url("/mine"));
    ASSERT_FALSE(mine->error());
    auto stream = pooledStreamOf(*mine);
    ASSERT_TRUE(stream);
    ASSERT_TRUE(stream->connectionKeptForReuse());
    const std::size_t idleHere = net::NetHTTPStream::idleConnectionCount();
    ASSERT_GE(idleHere, 1u);

    // A request on another thread expires the pool, this thread's connection with it.
    std::thread other([&] { EXPECT_FALSE(runExpiringAtOnce(server.url("/theirs"))->error()); });
    other.join();
    EXPECT_NE(stream->streamStatus(), net::NetHTTPStream::Status::Closed)
        << "closed by a thread that does not run it";
    EXPECT_EQ(net::NetHTTPStream::idleConnectionCount(), idleHere);

    // This thread's loop closes it, and the socket it kept.
    auto& loop = net::NetRunLoop::current();
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (stream->streamStatus() != net::NetHTTPStream::Status::Closed &&
           std::chrono::steady_clock::now() < deadline) {
        loop.runOnce(net::NetDefaultRunLoopMode, 50ms);
    }
    EXPECT_EQ(stream->streamStatus(), net::NetHTTPStream::Status::Closed);
    EXPECT_EQ(net::NetHTTPStream::idleConnectionCount(), idleHere - 1);
}

// Threads whose requests keep expiring each other's connections (run under the thread
// sanitizer, which reports a stream touched by two threads).
TEST(PooledStreamOwner, ThreadsExpiringEachOthersConnectionsRunToTheirEnd) {
    testsupport::TestHttpServer server(
        [](const testsupport::ReceivedRequest&) { return ScriptedAnswer::ok("kept"); });
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&server, t] {
            for (int i = 0; i < 15; ++i) {
                auto request = runExpiringAtOnce(server.url("/t" + std::to_string(t)));
                EXPECT_FALSE(request->error());
                EXPECT_EQ(request->responseString(), "kept");
                // Whatever other threads handed this one to close.
                net::NetRunLoop::current().runOnce(net::NetDefaultRunLoopMode, 1ms);
            }
        });
    }
    for (auto& thread : threads) thread.join();
}
