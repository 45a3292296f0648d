#include <gtest/gtest.h>

#include <mutex>
#include <string>

#include "http/NetHTTPClientRequest.h"
#include "http/NetRequestDefaults.h"
#include "shell/BridgePairFixture.h"
#include "shell/events/HttpRequestHandler.h"
#include "support/httpserver/TestHttpServer.h"

using foundation::Value;
using testsupport::ReceivedRequest;
using testsupport::ScriptedAnswer;
using testsupport::TestHttpServer;

namespace {

std::size_t base64Length(std::size_t bytes) {
    return (bytes + 2) / 3 * 4;
}

class HttpRequestHandlerTest : public BridgePairTest {
protected:
    void SetUp() override {
        static std::once_flag once;
        std::call_once(once, [] {
            WVEventPlugin::addHandlerClassForEvent(
                HttpRequestHandler::handlerClass(NetHTTPClientRequest::maker()), "http");
        });
        NetRequestDefaults::shared().setDefaultUserAgentString("OrvandelTest 1.0");
        plugin = WVEventPlugin::create(front, {}, {});
        // The page's reader keeps the length of each piece and the uid it came with.
        startPage(
            "window.pieces = []; window.keep = function(d) {"
            " pieces.push([d.data.length, d.uid === undefined ? null : d.uid]); };"
            " bridge.registerHandler('reader', keep); bridge.registerHandler('', keep);");
    }

    Value http(const Value& args) {
        return ask("wvevent", Value::dict({{"event", "http"},
                                           {"data", Value::dict({{"cmd", ""}, {"data", args}})}}));
    }

    std::shared_ptr<WVEventPlugin> plugin;
    TestHttpServer server{[](const ReceivedRequest& r) {
        if (r.target == "/empty") return ScriptedAnswer::ok("");
        if (r.target == "/204") {
            ScriptedAnswer answer;
            answer.raw = "HTTP/1.1 204 No Content\r\n\r\n";
            return answer;
        }
        if (r.target == "/201") {
            ScriptedAnswer answer = ScriptedAnswer::ok("made");
            answer.raw.replace(9, 6, "201 Created");
            return answer;
        }
        if (r.target == "/missing") {
            ScriptedAnswer answer = ScriptedAnswer::ok("gone");
            answer.raw.replace(9, 6, "404 Not Found");
            return answer;
        }
        if (r.target == "/challenge" || r.target == "/refusal") {
            ScriptedAnswer answer;
            answer.raw =
                std::string("HTTP/1.1 401 Unauthorized\r\n") +
                (r.target == "/challenge" ? "WWW-Authenticate: Basic realm=\"r\"\r\n" : "") +
                "Content-Length: 4\r\n\r\nnope";
            return answer;
        }
        if (r.target == "/loop") {
            ScriptedAnswer answer;
            answer.raw = "HTTP/1.1 302 Found\r\nLocation: /loop\r\nContent-Length: 0\r\n\r\n";
            return answer;
        }
        if (r.target == "/big") return ScriptedAnswer::ok(std::string(2000000, 'b'));
        if (r.target == "/broken-gzip")
            return ScriptedAnswer::ok("not gzip at all", "Content-Encoding: gzip\r\n");
        if (r.target == "/small") return ScriptedAnswer::ok(std::string(2500, 's'));
        return ScriptedAnswer::ok("hello", "Content-Type: text/plain; charset=utf-8\r\n");
    }};
};

}  // namespace

TEST_F(HttpRequestHandlerTest, AnswersStatusAndBodyAsThePageAsks) {
    struct Case {
        const char* name;
        Value args;
        Value expected;  // the whole answer
    };
    const std::string url = server.url("/text");
    const Case cases[] = {
        {"no url", Value::dict({{"url", ""}}),
         Value::dict({{"result", false}, {"error", "url is required."}})},
        {"text by default", Value::dict({{"url", url}}),
         Value::dict(
             {{"result", true}, {"data", Value::dict({{"status", 200}, {"text", "hello"}})}})},
        {"an empty body as text", Value::dict({{"url", server.url("/empty")}}),
         Value::dict({{"result", true}, {"data", Value::dict({{"status", 200}, {"text", ""}})}})},
        {"an empty responseType answers bytes", Value::dict({{"url", url}, {"responseType", ""}}),
         Value::dict(
             {{"result", true},
              {"data", Value::dict({{"status", 200}, {"data", "aGVsbG8="}, {"length", 5}})}})},
        {"204 answers the status line and no body", Value::dict({{"url", server.url("/204")}}),
         Value::dict(
             {{"result", true},
              {"data", Value::dict({{"status", 204}, {"message", "HTTP/1.1 204 No Content"}})}})},
        {"201 answers the status line, also for bytes",
         Value::dict({{"url", server.url("/201")}, {"responseType", "bytes"}}),
         Value::dict(
             {{"result", true},
              {"data", Value::dict({{"status", 201}, {"message", "HTTP/1.1 201 Created"}})}})},
        {"404 answers the status line", Value::dict({{"url", server.url("/missing")}}),
         Value::dict(
             {{"result", true},
              {"data", Value::dict({{"status", 404}, {"message", "HTTP/1.1 404 Not Found"}})}})},
        {"invalid Base64 sends nothing",
         Value::dict({{"url", url}, {"method", "POST"}, {"data", "not base64!"}}),
         Value::dict({{"result", false}, {"error", "data is not valid Base64."}})},
        {"no URL at all", Value::dict({{"url", "::"}}),
         Value::dict({{"result", true},
                      {"data", Value::dict({{"status", 0}, {"text", ""}})},
                      {"error", "Unable to create request (bad url?)"}})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Value answer = http(c.args);
        EXPECT_EQ(foundation::json::write(answer), foundation::json::write(c.expected));
    }
    // Only the requests that were made reached the server.
    EXPECT_EQ(server.requests().size(), 6u);
}

// A request that got an answer is answered true with its status, whatever the client made
// of it; one that got none is answered true with status 0 and an empty body. The client's
// failure comes beside, in words.
TEST_F(HttpRequestHandlerTest, ARequestThatWasMadeAnswersTrueAndTellsItsFailureByStatus) {
    struct Case {
        const char* name;
        Value args;
        Value expected;
    };
    const Case cases[] = {
        {"401 with a challenge", Value::dict({{"url", server.url("/challenge")}}),
         Value::dict(
             {{"result", true},
              {"data", Value::dict({{"status", 401}, {"message", "HTTP/1.1 401 Unauthorized"}})},
              {"error", "Authentication needed"}})},
        {"401 without a challenge", Value::dict({{"url", server.url("/refusal")}}),
         Value::dict(
             {{"result", true},
              {"data", Value::dict({{"status", 401}, {"message", "HTTP/1.1 401 Unauthorized"}})},
              {"error", "Failed to get authentication object from response headers"}})},
        {"302 loop", Value::dict({{"url", server.url("/loop")}}),
         Value::dict({{"result", true},
                      {"data", Value::dict({{"status", 302}, {"message", "HTTP/1.1 302 Found"}})},
                      {"error", "The request failed because it redirected too many times"}})},
        {"refused connection", Value::dict({{"url", "http://127.0.0.1:1/"}}),
         Value::dict({{"result", true},
                      {"data", Value::dict({{"status", 0}, {"text", ""}})},
                      {"error", "Could not connect to 127.0.0.1: Connection refused"}})},
        {"a compressed body that does not inflate, as bytes",
         Value::dict({{"url", server.url("/broken-gzip")}, {"responseType", "bytes"}}),
         Value::dict({{"result", true},
                      {"data", Value::dict({{"status", 200}, {"data", ""}, {"length", 0}})},
                      {"error", "The response body could not be read."}})},
        {"refused connection, as bytes",
         Value::dict({{"url", "http://127.0.0.1:1/"}, {"responseType", "bytes"}}),
         Value::dict({{"result", true},
                      {"data", Value::dict({{"status", 0}, {"data", ""}, {"length", 0}})},
                      {"error", "Could not connect to 127.0.0.1: Connection refused"}})},
        {"refused connection, to a reader",
         Value::dict(
             {{"url", "http://127.0.0.1:1/"}, {"responseType", "bytes"}, {"reader", "reader"}}),
         Value::dict({{"result", true},
                      {"data", Value::dict({{"status", 0}, {"length", 0}})},
                      {"error", "Could not connect to 127.0.0.1: Connection refused"}})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(foundation::json::write(http(c.args)), foundation::json::write(c.expected));
    }
}

TEST_F(HttpRequestHandlerTest, SendsGetOrPostAndABodyOnlyForPost) {
    struct Case {
        const char* name;
        Value method;
        Value data;
        std::string sentMethod;
        std::string body;
        std::optional<std::string> contentType;
    };
    const Case cases[] = {
        {"absent method", Value(), Value(), "GET", "", std::nullopt},
        {"raw POST", "POST", "cmF3IGJ5dGVz", "POST", "raw bytes", std::nullopt},
        {"lower-case post with fields", "post", Value::dict({{"a", 1}, {"b", "x y&z"}}), "POST",
         "a=1&b=x%20y%26z", "application/x-www-form-urlencoded; charset=utf-8"},
        {"PUT is a POST without a body", "PUT", "cHV0", "POST", "", std::nullopt},
        {"delete is a POST without its fields", "delete", Value::dict({{"a", 1}}), "POST", "",
         std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Value args = Value::dict(
            {{"url", server.url("/method")}, {"header", Value::dict({{"X-Page", "yes"}})}});
        args.set("method", c.method);
        args.set("data", c.data);
        EXPECT_EQ(http(args)["data"]["status"], Value(200));
        const auto sent = server.requests().back();
        EXPECT_EQ(sent.method, c.sentMethod);
        EXPECT_EQ(sent.body, c.body);
        EXPECT_EQ(sent.header("Content-Type"), c.contentType);
        EXPECT_EQ(sent.header("X-Page"), "yes");
    }
}

TEST_F(HttpRequestHandlerTest, PushesBytesInChunksToTheReader) {
    struct Case {
        const char* name;
        std::string path;
        Value chunksize;
        std::vector<std::size_t> pieces;
        std::int64_t length;
        const char* reader = "reader";
    };
    const Case cases[] = {
        {"default size", "/big", Value(), {524288, 524288, 524288, 427136}, 2000000},
        {"zero pushes nothing", "/big", 0, {}, 2000000},
        {"negative counts by its size", "/small", -1000, {1000, 1000, 500}, 2500},
        {"not a number", "/small", "12", {2500}, 2500},
        {"an empty reader name is a reader", "/small", 1000, {1000, 1000, 500}, 2500, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        page("pieces = [];");
        Value args = Value::dict({{"url", server.url(c.path)},
                                  {"responseType", "bytes"},
                                  {"reader", c.reader},
                                  {"uid", 7}});
        args.set("chunksize", c.chunksize);
        Value answer = http(args);
        std::string expected = "[";
        for (std::size_t piece : c.pieces) {
            expected += (expected.size() > 1 ? "," : "") + std::string("[") +
                        std::to_string(base64Length(piece)) + ",7]";
        }
        expected += "]";
        EXPECT_EQ(answer["data"], Value::dict({{"status", 200}, {"length", c.length}}));
        ASSERT_TRUE(waitForPage("pieces.length == " + std::to_string(c.pieces.size())));
        EXPECT_EQ(page("JSON.stringify(pieces)"), expected);
    }
}
