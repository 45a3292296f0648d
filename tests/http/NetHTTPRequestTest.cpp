#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "EndlessServer.h"
#include "PartBodyServer.h"
#include "PeakMemory.h"
#include "http/NetBandwidthThrottle.h"
#include "http/NetCookieJar.h"
#include "http/NetDataCompressor.h"
#include "http/NetHTTPRequest.h"
#include "http/NetRequestDefaults.h"
#include "http/NetSessionCredentials.h"
#include "support/httpserver/TestCertificates.h"
#include "support/httpserver/TestHttpServer.h"

using foundation::Url;
using testsupport::ReceivedRequest;
using testsupport::ScriptedAnswer;
using testsupport::TestHttpServer;
using Then = ScriptedAnswer::Then;

namespace {

constexpr const char* TestUserAgent = "OrvandelTest 1.0 (X11; Linux 6.1.0; en_US)";

ScriptedAnswer raw(std::string bytes, Then then = Then::KeepOpen) {
    ScriptedAnswer answer;
    answer.raw = std::move(bytes);
    answer.then = then;
    return answer;
}

std::string gzip(const std::string& text) {
    foundation::Error error;
    auto packed = NetDataCompressor::compressData(
        std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), &error);
    return std::string(packed->begin(), packed->end());
}

std::string text(const std::optional<foundation::Data>& data) {
    return data ? std::string(data->begin(), data->end()) : "<none>";
}

// A request for the URL, set up by the caller, run to its end on this thread.
std::shared_ptr<NetHTTPRequest> run(const std::string& url,
                                    const std::function<void(NetHTTPRequest&)>& setup = {}) {
    auto request = NetHTTPRequest::requestWithURL(Url::parse(url));
    if (setup) setup(*request);
    request->startSynchronous();
    return request;
}

int errorCode(const NetHTTPRequest& request) {
    return request.error() ? static_cast<int>(request.error()->code) : 0;
}

class NetHTTPRequestTest : public testing::Test {
protected:
    void SetUp() override { NetRequestDefaults::shared().setDefaultUserAgentString(TestUserAgent); }
};

}  // namespace

TEST_F(NetHTTPRequestTest, SendsTheDefaultHeaderSetAndTheCallersOwn) {
    TestHttpServer server([](const ReceivedRequest&) { return ScriptedAnswer::ok("fine"); });
    NetCookieJar::shared().setCookie(
        *NetCookie::fromSetCookie("flavour=oat; Path=/cookies", *Url::parse(server.url()), 0), 0);
    struct Case {
        const char* name;
        std::string path;
        std::function<void(NetHTTPRequest&)> setup;
        std::string method;
        std::vector<std::pair<std::string, std::string>> headers;  // exactly these, in order
        std::string body;
    };
    const Case cases[] = {
        {"plain GET",
         "/plain",
         {},
         "GET",
         {{"Host", "127.0.0.1:" + std::to_string(server.port())},
          {"User-Agent", TestUserAgent},
          {"Accept-Encoding", "gzip"}},
         ""},
        {"caller's agent kept, encoding replaced, names in any case",
         "/own",
         [](NetHTTPRequest& r) {
             r.addRequestHeader("user-agent", "Mine/2");
             r.addRequestHeader("ACCEPT-ENCODING", "br");
             r.addRequestHeader("X-Extra", "1");
         },
         "GET",
         {{"Host", "127.0.0.1:" + std::to_string(server.port())},
          {"user-agent", "Mine/2"},
          {"Accept-Encoding", "gzip"},
          {"X-Extra", "1"}},
         ""},
        {"stored cookie",
         "/cookies/jar",
         {},
         "GET",
         {{"Host", "127.0.0.1:" + std::to_string(server.port())},
          {"Cookie", "flavour=oat"},
          {"User-Agent", TestUserAgent},
          {"Accept-Encoding", "gzip"}},
         ""},
        {"a GET with a body goes as POST",
         "/body",
         [](NetHTTPRequest& r) {
             r.appendPostData(std::string_view(""));
             r.appendPostData(std::string_view("abc"));
         },
         "POST",
         {{"Host", "127.0.0.1:" + std::to_string(server.port())},
          {"Content-Length", "3"},
          {"User-Agent", TestUserAgent},
          {"Accept-Encoding", "gzip"}},
         "abc"},
        {"body compression on and no body sends no body",
         "/packed-nothing",
         [](NetHTTPRequest& r) { r.setShouldCompressRequestBody(true); },
         "GET",
         {{"Host", "127.0.0.1:" + std::to_string(server.port())},
          {"User-Agent", TestUserAgent},
          {"Accept-Encoding", "gzip"},
          {"Content-Encoding", "gzip"}},
         ""},
        // Last: the credentials that work are sent to this server from now on.
        {"Basic credentials before a challenge",
         "/basic",
         [](NetHTTPRequest& r) {
             r.setUsername("u");
             r.setPassword("p");
             r.setAuthenticationScheme("Basic");
         },
         "GET",
         {{"Host", "127.0.0.1:" + std::to_string(server.port())},
          {"User-Agent", TestUserAgent},
          {"Accept-Encoding", "gzip"},
          {"Authorization", "Basic dTpw"}},
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto request = run(server.url(c.path), c.setup);
        ASSERT_EQ(errorCode(*request), 0);
        EXPECT_EQ(request->responseStatusCode(), 200);
        EXPECT_EQ(request->responseStatusMessage(), "HTTP/1.1 200 OK");
        const auto received = server.requests().back();
        EXPECT_EQ(received.method, c.method);
        EXPECT_EQ(received.headers, c.headers);
        EXPECT_EQ(received.body, c.body);
    }
    // The credentials that worked are kept for the session.
    auto kept = NetSessionCredentials::shared().findSessionAuthenticationCredentials(
        *Url::parse(server.url("/basic")), std::nullopt, std::nullopt, std::nullopt);
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->credentials->username, "u");
    EXPECT_EQ(kept->authenticationScheme, "Basic");
}

TEST_F(NetHTTPRequestTest, ReadsBodiesInflatedAndDecodedAsTheHeadersSay) {
    const std::string packed = gzip("squeezed text");
    struct Case {
        const char* name;
        ScriptedAnswer answer;
        std::string raw;   // rawResponseData
        std::string data;  // responseData
        std::optional<std::string> string;
        std::uint64_t contentLength;
        bool inflateWhileReading = false;
    };
    const Case cases[] = {
        {"gzip named in lower case is kept raw and inflated on reading",
         raw("HTTP/1.1 200 OK\r\ncontent-encoding: gzip\r\ncontent-length: " +
             std::to_string(packed.size()) + "\r\n\r\n" + packed),
         packed, "squeezed text", "squeezed text", packed.size()},
        {"gzip inflated while reading",
         raw("HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: " +
             std::to_string(packed.size()) + "\r\n\r\n" + packed),
         "squeezed text", "squeezed text", "squeezed text", packed.size(), true},
        {"no charset reads Latin-1", ScriptedAnswer::ok("caf\xE9", "Content-Type: text/plain\r\n"),
         "caf\xE9", "caf\xE9", "caf\xC3\xA9", 4},
        {"a named charset",
         ScriptedAnswer::ok("caf\xC3\xA9", "Content-Type: text/plain; Charset=UTF-8\r\n"),
         "caf\xC3\xA9", "caf\xC3\xA9", "caf\xC3\xA9", 5},
        {"a body invalid in its charset gives no text",
         ScriptedAnswer::ok("caf\xE9", "Content-Type: text/plain; charset=utf-8\r\n"), "caf\xE9",
         "caf\xE9", std::nullopt, 4},
        {"no length: the length is what was read",
         raw("HTTP/1.1 200 OK\r\n\r\nuntil the end", Then::Close), "until the end", "until the end",
         "until the end", 13},
        {"a gzip body that does not inflate",
         raw("HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: 5\r\n\r\nplain"),
         "plain", "<none>", std::nullopt, 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestHttpServer server([&](const ReceivedRequest&) { return c.answer; });
        auto request = run(server.url("/body"), [&](NetHTTPRequest& r) {
            r.setShouldWaitToInflateCompressedResponses(!c.inflateWhileReading);
        });
        ASSERT_EQ(errorCode(*request), 0);
        EXPECT_EQ(text(request->rawResponseData()), c.raw);
        EXPECT_EQ(text(request->responseData()), c.data);
        EXPECT_EQ(request->responseString(), c.string);
        EXPECT_EQ(request->contentLength(), c.contentLength);
    }
}

TEST_F(NetHTTPRequestTest, ARedirectsBodyReachesTheDataBlockOnlyWhileResumingIsOff) {
    TestHttpServer server([](const ReceivedRequest& r) {
        if (r.target == "/real") return ScriptedAnswer::ok("arrived");
        return raw("HTTP/1.1 302 Found\r\nLocation: /real\r\nContent-Length: 4\r\n\r\nmove");
    });
    for (bool resume : {false, true}) {
        SCOPED_TRACE(resume ? "resuming on" : "resuming off");
        auto request = NetHTTPRequest::requestWithURL(Url::parse(server.url("/moved")));
        request->setAllowResumeForFileDownloads(resume);
        std::string received;
        request->setDataReceivedBlock([&](const foundation::Data& data) {
            received.append(data.begin(), data.end());
        });
        request->startSynchronous();
        EXPECT_EQ(errorCode(*request), 0);
        EXPECT_EQ(received, resume ? "arrived" : "movearrived");
    }
}

TEST_F(NetHTTPRequestTest, FollowsFiveRedirectsAndFailsTheSixth) {
    TestHttpServer server([](const ReceivedRequest& r) {
        int step = std::stoi(r.target.substr(r.target.rfind('/') + 1));
        if (step == 0) return ScriptedAnswer::ok("arrived");
        // Relative and absolute locations alike.
        std::string next = step % 2 ? "/hop/" + std::to_string(step - 1) : std::to_string(step - 1);
        return raw("HTTP/1.1 302 Found\r\nLocation: " + next + "\r\nContent-Length: 4\r\n\r\nmove");
    });
    auto five = run(server.url("/hop/5"));
    EXPECT_EQ(errorCode(*five), 0);
    EXPECT_EQ(text(five->responseData()), "arrived");
    EXPECT_EQ(five->redirectCount(), 5);
    EXPECT_EQ(five->originalURL()->path(), "/hop/5");
    EXPECT_EQ(five->url()->path(), "/hop/0");

    auto six = run(server.url("/hop/6"));
    EXPECT_EQ(errorCode(*six), NetTooMuchRedirectionErrorType);
    EXPECT_EQ(six->error()->message, "The request failed because it redirected too many times");
}

TEST_F(NetHTTPRequestTest, RedirectsKeepOrDropMethodBodyAndCredentials) {
    TestHttpServer other([](const ReceivedRequest&) { return ScriptedAnswer::ok("elsewhere"); });
    std::string otherURL = other.url("/landing");
    TestHttpServer server([&](const ReceivedRequest& r) {
        auto redirect = [](int status, const std::string& to) {
            return raw("HTTP/1.1 " + std::to_string(status) + " Moved\r\nLocation: " + to +
                       "\r\nContent-Length: 0\r\n\r\n");
        };
        if (r.target == "/302") return redirect(302, "/landing");
        if (r.target == "/307") return redirect(307, "/landing");
        if (r.target == "/307-away") return redirect(307, otherURL);
        if (r.target == "/ftp") return redirect(302, "ftp://127.0.0.1/file");
        if (r.target == "/308") return redirect(308, "/landing");
        return ScriptedAnswer::ok("landed");
    });
    struct Case {
        const char* name;
        std::string path;
        bool fromDisk;
        int status;
        std::string method;  // at the landing
        std::string body;
        std::optional<std::string> custom, authorization, cookie;
        bool landsElsewhere;
    };
    const Case cases[] = {
        {"302 turns POST into GET", "/302", false, 200, "GET", "", std::nullopt, std::nullopt,
         std::nullopt, false},
        {"307 keeps a body from disk", "/307", true, 200, "POST", "payload", "yes", "Basic dTpw",
         "mine=1", false},
        {"307 to another origin drops credentials", "/307-away", false, 200, "POST", "payload",
         "yes", std::nullopt, std::nullopt, true},
        {"a Location that is not the web's is not followed", "/ftp", false, 302, "", "",
         std::nullopt, std::nullopt, std::nullopt, false},
        {"308 is not followed", "/308", false, 308, "", "", std::nullopt, std::nullopt,
         std::nullopt, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string bodyFile;
        auto request = run(server.url(c.path), [&](NetHTTPRequest& r) {
            r.setShouldStreamPostDataFromDisk(c.fromDisk);
            r.appendPostData(std::string_view("payload"));
            r.addRequestHeader("X-Custom", "yes");
            r.addRequestHeader("Accept", "text/plain");
            r.addRequestHeader("Authorization", "Basic dTpw");
            r.addRequestHeader("Cookie", "mine=1");
            bodyFile = r.postBodyFilePath();
        });
        ASSERT_EQ(errorCode(*request), 0);
        EXPECT_EQ(request->responseStatusCode(), c.status);
        if (c.fromDisk) {
            EXPECT_FALSE(std::filesystem::exists(bodyFile));
        }
        if (c.method.empty()) continue;
        const auto landing = (c.landsElsewhere ? other : server).requests().back();
        EXPECT_EQ(landing.target, "/landing");
        EXPECT_EQ(landing.method, c.method);
        EXPECT_EQ(landing.body, c.body);
        EXPECT_EQ(landing.header("X-Custom"), c.custom);
        EXPECT_EQ(landing.header("Authorization"), c.authorization);
        EXPECT_EQ(landing.header("Cookie"), c.cookie);
        EXPECT_EQ(landing.header("User-Agent"), TestUserAgent);
        EXPECT_EQ(landing.header("Accept"), "text/plain");
    }
}

TEST_F(NetHTTPRequestTest, ReusesConnectionsOnlyWhenTheServerAllows) {
    struct Case {
        const char* name;
        std::string head;  // status line and headers, without the length
        std::string method;
        int connections;  // after two requests
    };
    const Case cases[] = {
        {"HTTP/1.1 default", "HTTP/1.1 200 OK\r\n", "GET", 1},
        {"Keep-Alive max 100", "HTTP/1.1 200 OK\r\nKeep-Alive: timeout=5, max=100\r\n", "GET", 1},
        {"Keep-Alive max 5", "HTTP/1.1 200 OK\r\nKeep-Alive: timeout=5, max=5\r\n", "GET", 2},
        {"Connection: Close", "HTTP/1.1 200 OK\r\nConnection: Close\r\n", "GET", 2},
        {"HTTP/1.0", "HTTP/1.0 200 OK\r\n", "GET", 2},
        {"HTTP/1.0 keep-alive",
         "HTTP/1.0 200 OK\r\nConnection: keep-alive\r\nKeep-Alive: timeout=9, max=50\r\n", "GET",
         1},
        {"POST never", "HTTP/1.1 200 OK\r\n", "POST", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestHttpServer server(
            [&](const ReceivedRequest&) { return raw(c.head + "Content-Length: 2\r\n\r\nok"); });
        std::optional<int> firstID;
        for (int i = 0; i < 2; ++i) {
            auto request =
                run(server.url("/again"), [&](NetHTTPRequest& r) { r.setRequestMethod(c.method); });
            ASSERT_EQ(errorCode(*request), 0);
            EXPECT_EQ(text(request->responseData()), "ok");
            if (i == 0) firstID = request->connectionID();
            if (i == 1 && c.connections == 1) {
                EXPECT_EQ(request->connectionID(), firstID);
            }
        }
        EXPECT_EQ(server.acceptedConnections(), c.connections);
    }
}

TEST_F(NetHTTPRequestTest, RetriesOnceOnlyAReusedConnectionDroppedBeforeAnyAnswer) {
    std::atomic<int> served{0};
    TestHttpServer server([&](const ReceivedRequest& r) {
        int n = ++served;
        // The second request finds its kept connection closed without an answer.
        if (n == 2 || r.target == "/post") return raw("", Then::Close);
        return ScriptedAnswer::ok("answer " + std::to_string(n));
    });
    auto first = run(server.url("/get"));
    auto second = run(server.url("/get"));
    EXPECT_EQ(errorCode(*second), 0);
    EXPECT_EQ(text(second->responseData()), "answer 3");
    EXPECT_EQ(second->retryCount(), 1);
    EXPECT_EQ(server.acceptedConnections(), 2);

    // A POST on a fresh connection is never sent twice.
    auto post = run(server.url("/post"),
                    [](NetHTTPRequest& r) { r.appendPostData(std::string_view("once")); });
    EXPECT_EQ(errorCode(*post), NetConnectionFailureErrorType);
    EXPECT_EQ(post->error()->message, "A connection failure occurred");
    EXPECT_EQ(post->retryCount(), 0);
    EXPECT_EQ(served, 4);
}

TEST_F(NetHTTPRequestTest, FailuresCarryTheirCodesAndTexts) {
    // A port with nobody listening.
    int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(probe, reinterpret_cast<sockaddr*>(&address), size);
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &size);
    const std::string refused = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/";
    ::close(probe);

    TestHttpServer slow([](const ReceivedRequest& r) {
        if (r.target == "/partial")
            return raw("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nfirst bytes");
        if (r.target == "/cut")
            return raw("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nfirst bytes", Then::Reset);
        if (r.target == "/secret")
            return raw(
                "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"x\"\r\n"
                "Content-Length: 4\r\n\r\nnope");
        ScriptedAnswer late = ScriptedAnswer::ok("late");
        late.delay = std::chrono::milliseconds(1500);
        return late;
    });
    TestHttpServer::Options tls;
    tls.tlsIdentity = testsupport::TestCertificates::selfSigned("127.0.0.1");
    TestHttpServer selfSigned([](const ReceivedRequest&) { return ScriptedAnswer::ok("x"); }, tls);

    auto shortTimeOut = [](NetHTTPRequest& r) { r.setTimeOutSeconds(0.3); };
    struct Case {
        const char* name;
        std::string url;
        std::function<void(NetHTTPRequest&)> setup;
        int code;
        std::string message;
        int status;
    };
    const Case cases[] = {
        {"nobody listening", refused, {}, 1, "A connection failure occurred", 0},
        {"no answer in time", slow.url("/slow"), shortTimeOut, 2, "The request timed out", 0},
        {"the body stops after the head", slow.url("/partial"), shortTimeOut, 2,
         "The request timed out", 200},
        {"a challenge without credentials",
         slow.url("/secret"),
         {},
         3,
         "Authentication needed",
         401},
        {"self-signed certificate",
         selfSigned.url("/"),
         {},
         1,
         "A connection failure occurred: SSL problem (Possible causes may include a "
         "bad/expired/self-signed certificate, clock set to wrong date)",
         0},
        {"a line break in a header", slow.url("/"),
         [](NetHTTPRequest& r) { r.addRequestHeader("X-Evil", "a\r\nInjected: 1"); }, 5,
         "Unable to create request (bad url?)", 0},
        {"a NUL in a header name", slow.url("/"),
         [](NetHTTPRequest& r) { r.addRequestHeader(std::string("X\0Y", 3), "v"); }, 5,
         "Unable to create request (bad url?)", 0},
        {"not the web's scheme",
         "ftp://127.0.0.1/file",
         {},
         5,
         "Unable to create request (bad url?)",
         0},
        {"no URL", "not a url", {}, 5, "Unable to create request (bad url?)", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto request = run(c.url, c.setup);
        EXPECT_EQ(errorCode(*request), c.code);
        if (request->error()) {
            EXPECT_EQ(request->error()->message, c.message);
        }
        EXPECT_EQ(request->responseStatusCode(), c.status);
        EXPECT_TRUE(request->complete());
    }
    // Without validation the same certificate is accepted.
    auto unchecked =
        run(selfSigned.url("/"), [](NetHTTPRequest& r) { r.setValidatesSecureCertificate(false); });
    EXPECT_EQ(errorCode(*unchecked), 0);
    EXPECT_EQ(text(unchecked->responseData()), "x");
    // The bytes read before a time-out stay.
    auto partial = run(slow.url("/partial"), shortTimeOut);
    EXPECT_EQ(text(partial->responseData()), "first bytes");
    // A transfer torn down by a stream error drops them: there is no body at all.
    auto cut = run(slow.url("/cut"));
    EXPECT_EQ(errorCode(*cut), 1);
    EXPECT_FALSE(cut->responseData());
    EXPECT_FALSE(cut->responseString());
    EXPECT_FALSE(cut->takeResponseData());
}

TEST_F(NetHTTPRequestTest, CancelFromAnotherThreadEndsTheRequest) {
    TestHttpServer slow([](const ReceivedRequest&) {
        return raw("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nx");
    });
    auto request = NetHTTPRequest::requestWithURL(Url::parse(slow.url("/hang")));
    std::thread canceller([&] {
        while (slow.requests().empty()) std::this_thread::yield();
        request->cancel();
    });
    request->startSynchronous();
    canceller.join();
    EXPECT_EQ(errorCode(*request), NetRequestCancelledErrorType);
    EXPECT_EQ(request->error()->message, "The request was cancelled");
    EXPECT_TRUE(request->isCancelled());
    request->cancel();  // complete: nothing changes
    EXPECT_EQ(errorCode(*request), NetRequestCancelledErrorType);
}

TEST_F(NetHTTPRequestTest, HostileServersGetAnErrorWithinBounds) {
    const std::string bomb = gzip(std::string(64 * 1024 * 1024, '\0'));
    struct Case {
        const char* name;
        ScriptedAnswer answer;
        int code;       // of the request
        bool dataNone;  // responseData answers nothing
        bool inflateWhileReading = false;
    };
    const ScriptedAnswer bombAnswer =
        raw("HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: " +
            std::to_string(bomb.size()) + "\r\n\r\n" + bomb);
    const Case cases[] = {
        {"endless headers",
         raw("HTTP/1.1 200 OK\r\n" + std::string(300 * 1024, 'X') + ": y\r\n\r\n"), 1, false},
        {"a 10 GB length", raw("HTTP/1.1 200 OK\r\nContent-Length: 10000000000\r\n\r\nabc"), 1,
         false},
        {"a chunk size that overflows",
         raw("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFFFFFFFFFF\r\nab"), 1,
         false},
        {"a body past the limit",
         raw("HTTP/1.1 200 OK\r\n\r\n" + std::string(3 << 20, 'z'), Then::Close), 1, false},
        {"a gzip bomb", bombAnswer, 0, true},
        {"a gzip bomb inflated while reading", bombAnswer, 1, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestHttpServer server([&](const ReceivedRequest&) { return c.answer; });
        auto request = run(server.url("/"), [&](NetHTTPRequest& r) {
            r.setMaximumResponseDataLength(2 << 20);
            r.setTimeOutSeconds(2);
            r.setShouldWaitToInflateCompressedResponses(!c.inflateWhileReading);
        });
        EXPECT_EQ(errorCode(*request), c.code);
        if (c.dataNone) {
            EXPECT_FALSE(request->responseData());
        }
        EXPECT_LE(request->rawResponseData().size(), std::size_t{2 << 20});
    }
}

TEST_F(NetHTTPRequestTest, ParallelThreadsEachRunTheirOwnRequests) {
    TestHttpServer server([](const ReceivedRequest& r) { return ScriptedAnswer::ok(r.target); });
    constexpr int Threads = 16, Requests = 10;
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < Requests; ++i) {
                std::string path = "/t" + std::to_string(t) + "/" + std::to_string(i);
                auto request = run(server.url(path));
                if (errorCode(*request) == 0 && text(request->responseData()) == path) ++good;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(good, Threads * Requests);
    // Each thread keeps its own connection.
    EXPECT_LE(server.acceptedConnections(), Threads);
}

TEST_F(NetHTTPRequestTest, RequestsStartedAsynchronouslyRunOnTheNetworkThread) {
    TestHttpServer server([](const ReceivedRequest& r) { return ScriptedAnswer::ok(r.target); });
    std::vector<std::shared_ptr<NetHTTPRequest>> requests;
    for (int i = 0; i < 6; ++i) {
        requests.push_back(
            NetHTTPRequest::requestWithURL(Url::parse(server.url("/a" + std::to_string(i)))));
        requests.back()->startAsynchronous();
    }
    for (int i = 0; i < 6; ++i) {
        auto& request = requests[static_cast<std::size_t>(i)];
        request->waitUntilFinished();
        EXPECT_EQ(errorCode(*request), 0);
        EXPECT_EQ(text(request->responseData()), "/a" + std::to_string(i));
        EXPECT_FALSE(request->start());  // finished: not run again
    }
}

TEST_F(NetHTTPRequestTest, DownloadsIntoFilesAndResumesWhereAllowed) {
    const std::string content = "0123456789A";
    const std::string packed = gzip(content);
    std::atomic<int> slowAnswers{0};
    TestHttpServer server([&](const ReceivedRequest& r) {
        auto range = r.header("Range");
        if (r.target == "/ranged" && range == "bytes=5-")
            return raw(
                "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 5-10/11\r\n"
                "Content-Length: 6\r\n\r\n" +
                content.substr(5));
        if (r.target == "/gzip")
            return raw("HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: " +
                       std::to_string(packed.size()) + "\r\n\r\n" + packed);
        ScriptedAnswer answer = ScriptedAnswer::ok(content);
        // The first try of "/slow" answers too late and is tried again.
        if (r.target == "/slow" && ++slowAnswers == 1)
            answer.delay = std::chrono::milliseconds(1500);
        return answer;
    });
    auto folder =
        std::filesystem::temp_directory_path() / ("download-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    struct Case {
        const char* name;
        std::string path;
        bool resume;
        std::optional<std::string> rangeSent;
        int retries;
    };
    const Case cases[] = {
        {"whole", "/whole", false, std::nullopt, 0},
        {"resumed", "/ranged", true, "bytes=5-", 0},
        {"a server that ignores the range", "/whole", true, "bytes=5-", 0},
        {"inflated into the destination", "/gzip", false, std::nullopt, 0},
        {"tried again after a time-out", "/slow", false, std::nullopt, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto destination = folder / "out.txt";
        const auto part = folder / "out.part";
        std::ofstream(part) << content.substr(0, 5);
        auto request = run(server.url(c.path), [&](NetHTTPRequest& r) {
            r.setDownloadDestinationPath(destination.string());
            r.setTemporaryFileDownloadPath(part.string());
            r.setAllowResumeForFileDownloads(c.resume);
            r.setTimeOutSeconds(0.4);
            r.setNumberOfTimesToRetryOnTimeout(1);
        });
        ASSERT_EQ(errorCode(*request), 0);
        EXPECT_EQ(server.requests().back().header("Range"), c.rangeSent);
        EXPECT_EQ(request->retryCount(), c.retries);
        std::ifstream in(destination);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), content);
        EXPECT_FALSE(std::filesystem::exists(part));
        EXPECT_TRUE(request->rawResponseData().empty());
    }
    std::filesystem::remove_all(folder);
}

TEST_F(NetHTTPRequestTest, ChunkLinesAndTrailersThatNeverEndFailWithinBoundedMemory) {
    const std::string head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    struct Case {
        const char* name;
        std::string start;
    };
    const Case cases[] = {
        {"a chunk line", head + "5;"},
        {"a trailer", head + "0\r\nX-Trailer: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // Far more than the bound, sent as fast as the client takes it.
        httptest::EndlessServer server(c.start, std::string(64 * 1024, 'a'), 512ull << 20);
        httptest::PeakGrowth growth;
        auto request = run(server.url("/"), [](NetHTTPRequest& r) { r.setTimeOutSeconds(5); });
        EXPECT_EQ(errorCode(*request), NetConnectionFailureErrorType);
        EXPECT_LT(growth.bytes(), httptest::MemoryBound);
    }
}

TEST_F(NetHTTPRequestTest, ADownloadHoldsOnlyTheBodyOfTheAnswerItEndsWith) {
    const std::string content = "REAL-BODY";
    TestHttpServer server([&](const ReceivedRequest& r) {
        if (r.target == "/moved")
            return raw(
                "HTTP/1.1 302 Found\r\nLocation: /real\r\nContent-Length: 10\r\n\r\n"
                "MOVED-BODY");
        if (r.target == "/moved-chunked")
            return raw(
                "HTTP/1.1 301 Moved\r\nLocation: /real\r\nTransfer-Encoding: chunked\r\n\r\n"
                "5\r\nMOVED\r\n5\r\n-BODY\r\n0\r\n\r\n");
        if (r.header("Range") == "bytes=5-")
            return raw(
                "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 5-8/9\r\n"
                "Content-Length: 4\r\n\r\n" +
                content.substr(5));
        return ScriptedAnswer::ok(content);
    });
    auto folder = std::filesystem::temp_directory_path() /
                  ("redirected-download-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    struct Case {
        const char* name;
        std::string path;
        bool resume;
    };
    const Case cases[] = {
        {"a redirect with a length", "/moved", false},
        {"a chunked redirect", "/moved-chunked", false},
        {"a redirect while resuming", "/moved", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto destination = folder / "out.txt";
        const auto part = folder / "out.part";
        std::filesystem::remove(destination);
        if (c.resume) {
            std::ofstream(part) << content.substr(0, 5);
        } else {
            std::filesystem::remove(part);
        }
        auto request = run(server.url(c.path), [&](NetHTTPRequest& r) {
            r.setDownloadDestinationPath(destination.string());
            if (c.resume) r.setTemporaryFileDownloadPath(part.string());
            r.setAllowResumeForFileDownloads(c.resume);
        });
        ASSERT_EQ(errorCode(*request), 0);
        std::ifstream in(destination);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), content);
    }
    std::filesystem::remove_all(folder);
}

TEST_F(NetHTTPRequestTest, AResumedDownloadTakesOnlyTheRestOfItsOwnFile) {
    const std::string content = "0123456789A";
    TestHttpServer server([&](const ReceivedRequest& r) {
        if (r.target == "/other-range")
            return raw(
                "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-5/11\r\n"
                "Content-Length: 6\r\n\r\n" +
                content.substr(0, 6));
        if (r.target == "/refused")
            return raw(
                "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */11\r\n"
                "Content-Length: 10\r\n\r\nerror page");
        if (r.target == "/no-range-header")
            return raw("HTTP/1.1 206 Partial Content\r\nContent-Length: 6\r\n\r\n" +
                       content.substr(5));
        return raw(
            "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 5-10/11\r\n"
            "Content-Length: 6\r\n\r\n" +
            content.substr(5));
    });
    auto folder = std::filesystem::temp_directory_path() / ("resume-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    struct Case {
        const char* name;
        std::string path;
        bool delivered;
    };
    const Case cases[] = {
        {"the rest of the file", "/rest", true},
        {"a part that starts elsewhere", "/other-range", false},
        {"an error page with a range", "/refused", false},
        {"a part without its range", "/no-range-header", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto destination = folder / "out.txt";
        const auto part = folder / "out.part";
        std::filesystem::remove(destination);
        std::ofstream(part) << content.substr(0, 5);
        auto request = run(server.url(c.path), [&](NetHTTPRequest& r) {
            r.setDownloadDestinationPath(destination.string());
            r.setTemporaryFileDownloadPath(part.string());
            r.setAllowResumeForFileDownloads(true);
        });
        if (c.delivered) {
            ASSERT_EQ(errorCode(*request), 0);
            std::ifstream in(destination);
            EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), content);
            continue;
        }
        EXPECT_EQ(errorCode(*request), NetConnectionFailureErrorType);
        EXPECT_FALSE(std::filesystem::exists(destination));
        // The partial file is kept as it was, ready for another try.
        std::ifstream in(part);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), content.substr(0, 5));
    }
    std::filesystem::remove_all(folder);
}

TEST_F(NetHTTPRequestTest, ThrottledUploadsAndDownloadsRunToTheirEnd) {
    const std::string payload(48 * 1024, 'p');
    TestHttpServer server([&](const ReceivedRequest& r) {
        if (r.method == "POST") return ScriptedAnswer::ok(std::to_string(r.body.size()));
        return ScriptedAnswer::ok(payload);
    });
    auto& throttle = NetBandwidthThrottle::shared();
    throttle.setMaxBandwidthPerSecond(32 * 1024);
    auto upload = run(server.url("/up"), [&](NetHTTPRequest& r) {
        r.appendPostData(std::string_view(payload));
        r.setTimeOutSeconds(20);
    });
    auto download = run(server.url("/down"), [](NetHTTPRequest& r) { r.setTimeOutSeconds(20); });
    throttle.setMaxBandwidthPerSecond(0);
    EXPECT_EQ(errorCode(*upload), 0);
    EXPECT_EQ(upload->responseString(), std::to_string(payload.size()));
    EXPECT_EQ(errorCode(*download), 0);
    EXPECT_EQ(download->responseString(), payload);
}

namespace {

// Puts the throttle into a pause far longer than any test, as a burst of traffic far over
// the limit does.
void holdBackEveryDownload(NetBandwidthThrottle& throttle) {
    while (!throttle.isPaused()) {
        throttle.incrementBandwidthUsedInLastSecond(std::uint64_t{1} << 40);
        throttle.measureBandwidthUsage();
    }
}

// Cancels the request if it is still running after `bound`, so that a hang fails the test
// instead of stalling the run.
class HangGuard {
public:
    HangGuard(std::shared_ptr<NetHTTPRequest> request, std::chrono::seconds bound)
        : thread_([this, request, bound] {
              std::unique_lock lock(mutex_);
              if (!done_.wait_for(lock, bound, [this] { return finished_; })) request->cancel();
          }) {}
    ~HangGuard() {
        {
            std::lock_guard lock(mutex_);
            finished_ = true;
        }
        done_.notify_all();
        thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
    std::thread thread_;
};

}  // namespace

TEST_F(NetHTTPRequestTest, AHeldBackDownloadSeesItsServerCloseAndItsTimeOut) {
    const std::string answer =
        "HTTP/1.1 200 OK\r\nContent-Length: 1048576\r\n\r\n" + std::string(16 * 1024, 'b');
    auto& throttle = NetBandwidthThrottle::shared();
    for (bool closes : {true, false}) {
        SCOPED_TRACE(closes ? "the server closes" : "the server goes quiet");
        httptest::PartBodyServer server(answer);
        throttle.setMaxBandwidthPerSecond(1024 * 1024);
        auto request = NetHTTPRequest::requestWithURL(Url::parse(server.url()));
        request->setTimeOutSeconds(closes ? 600 : 1);
        // Once the first bytes are in, the rest is held back; only then does the server close.
        bool first = true;
        request->setDataReceivedBlock([&](const foundation::Data&) {
            if (!first) return;
            first = false;
            holdBackEveryDownload(throttle);
            if (closes) server.release();
        });
        {
            HangGuard guard(request, std::chrono::seconds(20));
            request->startSynchronous();
        }
        throttle.setMaxBandwidthPerSecond(0);
        EXPECT_FALSE(first);
        EXPECT_EQ(errorCode(*request),
                  closes ? NetConnectionFailureErrorType : NetRequestTimedOutErrorType);
        EXPECT_FALSE(throttle.isPaused());  // a new limit drops the pause of the old one
    }
}
