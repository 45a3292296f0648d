#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "StreamHarness.h"
#include "http/NetConnectionPool.h"
#include "support/Latch.h"
#include "support/httpserver/TestHttpServer.h"

using namespace std::chrono_literals;
using net::NetHTTPStream;
using testsupport::ScriptedAnswer;

namespace {

// Runs one keep-alive exchange on a connection the pool chose; its record stays busy.
std::shared_ptr<NetConnectionRecord> exchange(NetConnectionPool& pool, const std::string& url,
                                              std::chrono::steady_clock::time_point now) {
    bool persistent = true;
    std::optional<std::uint32_t> requestID;
    auto stream = NetHTTPStream::create(httptest::message(url));
    auto choice = pool.chooseConnection(*foundation::Url::parse(url), persistent, nullptr,
                                        requestID, stream, now);
    EXPECT_TRUE(httptest::run(stream).kept);
    return choice.record;
}

void makeIdle(NetConnectionPool& pool, const std::shared_ptr<NetConnectionRecord>& record,
              std::chrono::steady_clock::time_point expires) {
    std::lock_guard guard(pool.connectionsLock());
    record->request.reset();
    record->expires = expires;
}

class ConnectionPoolSockets : public testing::Test {
protected:
    testsupport::TestHttpServer server{
        [](const testsupport::ReceivedRequest&) { return ScriptedAnswer::ok("kept"); }};
    NetConnectionPool pool;
    const std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now();
};

TEST_F(ConnectionPoolSockets, ExpiredRecordsCloseTheirIdleSockets) {
    // Connections that earlier tests kept on this thread may carry this pool's ids.
    for (int id = 1; id <= 50; ++id) NetHTTPStream::closeIdleConnection(id);
    const std::size_t before = NetHTTPStream::idleConnectionCount();
    // Each record is busy while the next is chosen: 50 connections.
    std::vector<std::shared_ptr<NetConnectionRecord>> records;
    for (int i = 0; i < 50; ++i) records.push_back(exchange(pool, server.url("/k"), now));
    EXPECT_EQ(NetHTTPStream::idleConnectionCount(), before + 50);
    for (const auto& record : records) makeIdle(pool, record, now - 1s);
    pool.expirePersistentConnections(now);
    EXPECT_TRUE(pool.records().empty());
    EXPECT_EQ(NetHTTPStream::idleConnectionCount(), before);
}

TEST_F(ConnectionPoolSockets, AConnectionKeptOnAnotherThreadStaysThereAndClosesThere) {
    std::shared_ptr<NetConnectionRecord> theirs;
    testsupport::Latch filed(1);
    testsupport::Latch expired(1);
    std::size_t idleLeftThere = 99;
    std::thread owner([&] {
        theirs = exchange(pool, server.url("/a"), now);
        makeIdle(pool, theirs, now + 60s);
        filed.count_down();
        expired.wait();
        // The close comes to this thread's loop; the limit only stops a broken test.
        auto& loop = net::NetRunLoop::current();
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (NetHTTPStream::idleConnectionCount() > 0 &&
               std::chrono::steady_clock::now() < deadline) {
            loop.runOnce(httptest::TestMode, 50ms);
        }
        idleLeftThere = NetHTTPStream::idleConnectionCount();
    });
    filed.wait();
    const std::size_t before = NetHTTPStream::idleConnectionCount();
    auto ours = exchange(pool, server.url("/b"), now);
    EXPECT_NE(ours, theirs) << "a socket idle on another thread cannot serve this one";
    EXPECT_EQ(NetHTTPStream::idleConnectionCount(), before + 1);
    EXPECT_EQ(server.acceptedConnections(), 2);

    makeIdle(pool, theirs, now - 1s);
    makeIdle(pool, ours, now + 60s);
    pool.expirePersistentConnections(now);
    expired.count_down();
    owner.join();
    EXPECT_EQ(idleLeftThere, 0u);
    EXPECT_EQ(pool.records(), std::vector<std::shared_ptr<NetConnectionRecord>>{ours});
    makeIdle(pool, ours, now - 1s);
    pool.expirePersistentConnections(now);
    EXPECT_EQ(NetHTTPStream::idleConnectionCount(), before);
}

}  // namespace
