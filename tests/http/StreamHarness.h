#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "foundation/Url.h"
#include "platform/net/NetHTTPStream.h"
#include "platform/net/NetRunLoop.h"

namespace httptest {

inline constexpr const char* TestMode = "OrvandelTestRunLoopMode";

// What a stream gave by the time it ended.
struct Outcome {
    bool ended = false;
    int status = 0;
    std::string statusLine;
    net::NetHeaderList headers;
    net::NetHeaderList trailers;
    std::string body;
    std::optional<foundation::Error> error;
    bool kept = false;
    bool reused = false;
};

inline net::NetHTTPMessage message(const std::string& url, const std::string& method = "GET") {
    net::NetHTTPMessage m;
    m.method = method;
    m.url = *foundation::Url::parse(url);
    return m;
}

// Opens the stream on this thread's run loop and runs the loop in a private mode until the
// stream ends or fails. The limit only stops a broken test from hanging.
inline Outcome run(const std::shared_ptr<net::NetHTTPStream>& stream,
                   std::chrono::seconds limit = std::chrono::seconds(20)) {
    Outcome out;
    bool done = false;
    net::NetHTTPStream* raw = stream.get();
    stream->setClient(net::NetStreamEventMaskReadStream, [&](net::NetStreamEvent event) {
        if (event == net::NetStreamEventHasBytesAvailable) {
            std::uint8_t buffer[7000];
            std::ptrdiff_t n;
            while ((n = raw->read(buffer, sizeof buffer)) > 0)
                out.body.append(reinterpret_cast<char*>(buffer), n);
        } else if (event == net::NetStreamEventErrorOccurred) {
            out.error = raw->streamError();
            done = true;
        } else if (event == net::NetStreamEventEndEncountered) {
            out.ended = true;
            done = true;
        }
    });
    auto& loop = net::NetRunLoop::current();
    stream->scheduleInRunLoop(loop, TestMode);
    EXPECT_TRUE(stream->open());
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done && std::chrono::steady_clock::now() < deadline) {
        loop.runOnce(TestMode, deadline - std::chrono::steady_clock::now());
    }
    EXPECT_TRUE(done) << "the stream neither ended nor failed in time";
    out.status = stream->statusCode();
    out.statusLine = stream->statusLine();
    out.headers = stream->responseHeaders();
    out.trailers = stream->responseTrailers();
    out.kept = stream->connectionKeptForReuse();
    out.reused = stream->reusedConnection();
    stream->setClient(0, {});
    return out;
}

}  // namespace httptest
