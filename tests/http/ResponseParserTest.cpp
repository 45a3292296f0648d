#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/net/NetResponseParser.h"

using net::NetResponseParser;

namespace {

struct ParseCase {
    const char* name;
    std::string wire;
    bool head = false;
    bool peerCloses = false;  // the connection ends after the bytes
    bool ok = true;           // the whole exchange counts as a complete message
    int status = 0;
    std::string body;
    bool keepAlive = false;
};

// Feeds the wire bytes in pieces of `piece` bytes and, when asked, ends the connection.
bool runParse(NetResponseParser& parser, const ParseCase& c, std::size_t piece, std::string& body) {
    for (std::size_t at = 0; at < c.wire.size(); at += piece) {
        std::size_t n = std::min(piece, c.wire.size() - at);
        if (!parser.feed(reinterpret_cast<const std::uint8_t*>(c.wire.data() + at), n))
            return false;
        auto taken = parser.takeBody();
        body.append(taken.begin(), taken.end());
    }
    if (c.peerCloses) {
        if (!parser.finishAtEnd()) return false;
        auto taken = parser.takeBody();
        body.append(taken.begin(), taken.end());
    }
    return parser.messageComplete();
}

const std::vector<ParseCase>& cases() {
    static const std::vector<ParseCase> all = {
        {"content length", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", false, false, true,
         200, "hello", true},
        {"chunked with trailer",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n6;x=y\r\n "
         "world\r\n0\r\nX-Sum: 9\r\n\r\n",
         false, false, true, 200, "hello world", true},
        {"ended by close", "HTTP/1.1 200 OK\r\n\r\nuntil the end", false, true, true, 200,
         "until the end", false},
        {"HTTP/1.0 without keep-alive", "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok", false,
         false, true, 200, "ok", false},
        {"connection close", "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 2\r\n\r\nok",
         false, false, true, 200, "ok", false},
        {"HEAD ignores the length", "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n", true, false,
         true, 200, "", true},
        {"204 has no body", "HTTP/1.1 204 No Content\r\nContent-Length: 0\r\n\r\n", false, false,
         true, 204, "", true},
        {"304 has no body even with a length",
         "HTTP/1.1 304 Not Modified\r\nContent-Length: 99\r\n\r\n", false, false, true, 304, "",
         true},
        {"100-continue before the answer",
         "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 102 Processing\r\n\r\nHTTP/1.1 201 "
         "Created\r\nContent-Length: 3\r\n\r\nnew",
         false, false, true, 201, "new", true},
        {"short of the length", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nshort", false, true,
         false, 200, "short", false},
        {"short of the last chunk",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n", false, true, false,
         200, "hello", false},
        {"closed inside the headers", "HTTP/1.1 200 OK\r\nContent-Le", false, true, false, 0, "",
         false},
        {"closed before anything", "", false, true, false, 0, "", false},
        {"not HTTP", "SSH-2.0-OpenSSH\r\n\r\n", false, false, false, 0, "", false},
        {"status below 100", "HTTP/1.1 020 OK\r\nContent-Length: 0\r\n\r\n", false, false, false, 0,
         "", false},
        {"negative length", "HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n", false, false, false, 0,
         "", false},
        {"two different lengths",
         "HTTP/1.1 200 OK\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nab", false, false, false,
         0, "", false},
        {"chunk size overflow",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFFFFFFFF\r\n", false,
         false, false, 0, "", false},
    };
    return all;
}

}  // namespace

TEST(ResponseParser, FramesEveryKindOfBodyWhateverThePieceSize) {
    for (const auto& c : cases()) {
        for (std::size_t piece : {std::size_t{1}, std::size_t{3}, std::size_t{4096}}) {
            SCOPED_TRACE(std::string(c.name) + ", pieces of " + std::to_string(piece));
            NetResponseParser parser(c.head);
            std::string body;
            bool complete = runParse(parser, c, piece, body);
            EXPECT_EQ(complete, c.ok);
            if (c.status != 0) {
                EXPECT_EQ(parser.statusCode(), c.status);
                EXPECT_EQ(body, c.body);
            }
            if (c.ok) {
                EXPECT_EQ(parser.keepAlive(), c.keepAlive);
            }
        }
    }
}

TEST(ResponseParser, KeepsRepeatedHeadersTrailersAndTheStatusLine) {
    const std::string wire =
        "HTTP/1.1 200 Fine Thanks\r\nSet-Cookie: a=1\r\nSet-Cookie: b=2\r\nTransfer-Encoding: "
        "chunked\r\n\r\n"
        "0\r\nX-Checksum: abc\r\n\r\n";
    NetResponseParser parser;
    ASSERT_TRUE(parser.feed(reinterpret_cast<const std::uint8_t*>(wire.data()), wire.size()));
    ASSERT_TRUE(parser.messageComplete());
    EXPECT_EQ(parser.statusLine(), "HTTP/1.1 200 Fine Thanks");
    std::vector<std::string> cookies;
    for (const auto& [name, value] : parser.headers()) {
        if (name == "Set-Cookie") cookies.push_back(value);
    }
    EXPECT_EQ(cookies, (std::vector<std::string>{"a=1", "b=2"}));
    ASSERT_EQ(parser.trailers().size(), 1u);
    EXPECT_EQ(parser.trailers()[0].second, "abc");
}

TEST(ResponseParser, BytesAfterTheMessageMakeTheConnectionUnfitForReuse) {
    const std::string wire = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nokSURPRISE";
    NetResponseParser parser;
    ASSERT_TRUE(parser.feed(reinterpret_cast<const std::uint8_t*>(wire.data()), wire.size()));
    EXPECT_TRUE(parser.messageComplete());
    EXPECT_EQ(parser.extraBytes(), 8u);
    EXPECT_FALSE(parser.keepAlive());
}

TEST(ResponseParser, ChunkLinesAndTrailersThatNeverEndAreRefused) {
    const std::string head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    struct Case {
        const char* name;
        std::string start;  // then filler without end
    };
    const Case cases[] = {
        {"a chunk line", head + "5;"},
        {"a chunk line after a chunk", head + "3\r\nabc\r\n4;ext="},
        {"the trailers", head + "0\r\nX-Trailer: "},
        {"many short trailers", head + "0\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        NetResponseParser parser;
        ASSERT_TRUE(
            parser.feed(reinterpret_cast<const std::uint8_t*>(c.start.data()), c.start.size()));
        const std::string filler = std::string(c.name) == "many short trailers"
                                       ? std::string("X-A: b\r\n")
                                       : std::string(4096, 'a');
        std::size_t fed = 0;
        bool refused = false;
        while (fed < 4u * 1024 * 1024 && !refused) {
            refused =
                !parser.feed(reinterpret_cast<const std::uint8_t*>(filler.data()), filler.size());
            fed += filler.size();
        }
        EXPECT_TRUE(refused);
        // Refused once the line passes the limit of the header block, not later.
        EXPECT_LE(fed, 256u * 1024 + filler.size());
        EXPECT_FALSE(parser.errorMessage().empty());
    }
}
