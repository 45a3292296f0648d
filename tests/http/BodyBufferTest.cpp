// Body bytes kept where the socket read them: the waiting buffer, the parser that finds the
// body inside a read, and a stream read without copies.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "StreamHarness.h"
#include "platform/net/NetBodyBuffer.h"
#include "platform/net/NetResponseParser.h"
#include "support/httpserver/TestHttpServer.h"

using net::NetBodyBuffer;
using net::NetHTTPStream;
using net::NetResponseParser;
using testsupport::ReceivedRequest;
using testsupport::ScriptedAnswer;
using testsupport::TestHttpServer;

namespace {

// Bytes that differ from place to place, so that a piece read from the wrong offset shows.
std::string pattern(std::size_t size, std::size_t seed = 0) {
    std::string out(size, '\0');
    for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<char>('a' + (i * 7 + seed) % 26);
    return out;
}

// Puts `bytes` into the buffer as one read, all of it body.
void receiveBody(NetBodyBuffer& buffer, const std::string& bytes) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        std::shared_ptr<NetBodyBuffer::Block> keep;
        auto space = buffer.receiveSpace(keep);
        std::size_t n = std::min(space.size(), bytes.size() - at);
        std::memcpy(space.data(), bytes.data() + at, n);
        buffer.received(n);
        auto last = buffer.lastReceived();
        buffer.append(last.data(), last.size());
        at += n;
    }
}

std::string drain(NetBodyBuffer& buffer, std::size_t step) {
    std::string out;
    while (buffer.size() > 0) {
        auto piece = buffer.front();
        std::size_t n = std::min(step, piece.size());
        out.append(reinterpret_cast<const char*>(piece.data()), n);
        buffer.consume(n);
    }
    return out;
}

}  // namespace

TEST(BodyBuffer, KeepsReceivedBytesInPlaceAndCopiesOthers) {
    NetBodyBuffer buffer;
    std::shared_ptr<NetBodyBuffer::Block> keep;
    auto space = buffer.receiveSpace(keep);
    ASSERT_GE(space.size(), 4096u);
    std::memcpy(space.data(), "HEADbody", 8);
    buffer.received(8);
    auto last = buffer.lastReceived();
    ASSERT_EQ(last.size(), 8u);
    // The body part of the read is used where it lies.
    buffer.append(last.data() + 4, 4);
    EXPECT_EQ(buffer.front().data(), last.data() + 4);
    // Bytes from elsewhere (a line the parser had to join) are copied: changing the
    // source afterwards changes nothing.
    std::string joined = "more";
    buffer.append(reinterpret_cast<const std::uint8_t*>(joined.data()), joined.size());
    joined = "XXXX";
    EXPECT_EQ(buffer.size(), 8u);
    EXPECT_EQ(drain(buffer, 3), "bodymore");
    EXPECT_TRUE(buffer.front().empty());
}

TEST(BodyBuffer, WaitingBytesSurviveLaterReadsWhateverTheReader) {
    // The reader lags behind the socket by several blocks, then catches up in odd steps;
    // refilled blocks must never be ones whose bytes still wait.
    for (std::size_t step : {1000u, 4096u, 65536u, 1u << 20}) {
        SCOPED_TRACE(step);
        NetBodyBuffer buffer;
        std::string expected;
        for (int read = 0; read < 40; ++read) {
            std::string bytes = pattern(10000 + 3000 * (read % 7), read);
            receiveBody(buffer, bytes);
            expected += bytes;
            // Now and then part of what waits is read.
            if (read % 3 == 2) {
                std::string got;
                std::size_t want = std::min<std::size_t>(step, buffer.size());
                while (got.size() < want) {
                    auto piece = buffer.front();
                    std::size_t n = std::min(piece.size(), want - got.size());
                    got.append(reinterpret_cast<const char*>(piece.data()), n);
                    buffer.consume(n);
                }
                ASSERT_EQ(got, expected.substr(0, got.size()));
                expected.erase(0, got.size());
            }
        }
        EXPECT_EQ(buffer.size(), expected.size());
        EXPECT_EQ(drain(buffer, step), expected);
    }
}

TEST(BodyBuffer, ParserHandsBodyBytesToItsSinkWhateverTheSplit) {
    const std::string body = pattern(3000);
    struct Case {
        const char* name;
        std::string wire;
    };
    std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (std::size_t at = 0; at < body.size(); at += 700) {
        std::string piece = body.substr(at, 700);
        char size[16];
        std::snprintf(size, sizeof size, "%zx", piece.size());
        chunked += std::string(size) + "\r\n" + piece + "\r\n";
    }
    chunked += "0\r\n\r\n";
    const Case cases[] = {
        {"length", "HTTP/1.1 200 OK\r\nContent-Length: 3000\r\n\r\n" + body},
        {"chunked", chunked},
    };
    for (const auto& c : cases) {
        for (std::size_t piece : {1u, 5u, 64u, 999u, 100000u}) {
            SCOPED_TRACE(std::string(c.name) + " in pieces of " + std::to_string(piece));
            NetResponseParser parser;
            std::string got;
            std::size_t inPlace = 0;
            const std::uint8_t* fed = nullptr;
            std::size_t fedSize = 0;
            parser.setBodySink([&](const std::uint8_t* bytes, std::size_t size) {
                got.append(reinterpret_cast<const char*>(bytes), size);
                if (bytes >= fed && bytes + size <= fed + fedSize) inPlace += size;
            });
            for (std::size_t at = 0; at < c.wire.size(); at += piece) {
                fed = reinterpret_cast<const std::uint8_t*>(c.wire.data() + at);
                fedSize = std::min(piece, c.wire.size() - at);
                ASSERT_TRUE(parser.feed(fed, fedSize)) << parser.errorMessage();
                EXPECT_EQ(parser.bufferedBodySize(), 0u);
            }
            EXPECT_TRUE(parser.messageComplete());
            EXPECT_EQ(got, body);
            // A body that arrives in one read is not copied on its way to the sink.
            if (piece == 100000u) {
                EXPECT_EQ(inPlace, body.size());
            }
        }
    }
}

TEST(BodyBuffer, StreamReadInPlaceGivesTheWholeBodyAcrossBlocks) {
    // Larger than the buffered limit, so that reading pauses and resumes as the client
    // takes bytes, in steps that never line up with the blocks.
    const std::string body = pattern(3 * 1024 * 1024 + 17);
    TestHttpServer server([&](const ReceivedRequest&) { return ScriptedAnswer::ok(body); });
    auto stream = NetHTTPStream::create(httptest::message(server.url("/big")));
    std::string got;
    bool done = false;
    bool failed = false;
    NetHTTPStream* raw = stream.get();
    stream->setClient(net::NetStreamEventMaskReadStream, [&](net::NetStreamEvent event) {
        if (event == net::NetStreamEventHasBytesAvailable) {
            // Takes a little at a time, the rest on later events.
            for (int i = 0; i < 3; ++i) {
                auto piece = raw->peek();
                if (piece.empty()) break;
                std::size_t n = std::min<std::size_t>(piece.size(), 5000);
                got.append(reinterpret_cast<const char*>(piece.data()), n);
                raw->consume(n);
            }
        } else {
            failed = event == net::NetStreamEventErrorOccurred;
            done = true;
        }
    });
    auto& loop = net::NetRunLoop::current();
    stream->scheduleInRunLoop(loop, httptest::TestMode);
    ASSERT_TRUE(stream->open());
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done && std::chrono::steady_clock::now() < deadline)
        loop.runOnce(httptest::TestMode, deadline - std::chrono::steady_clock::now());
    stream->setClient(0, {});
    ASSERT_TRUE(done);
    EXPECT_FALSE(failed);
    ASSERT_EQ(got.size(), body.size());
    EXPECT_TRUE(got == body);
}
