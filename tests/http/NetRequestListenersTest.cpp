// What a request's delegate, blocks and progress delegates hear, and in what order.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "foundation/MainQueue.h"
#include "http/NetHTTPRequest.h"
#include "support/MainLoop.h"
#include "support/httpserver/TestHttpServer.h"

using foundation::Url;
using testsupport::ReceivedRequest;
using testsupport::ScriptedAnswer;
using testsupport::TestHttpServer;

namespace {

// Writes down every notice, in the order heard; all of them come on the main thread.
struct Recorder : NetHTTPRequestDelegate, NetProgressDelegate {
    std::vector<std::string> log;
    bool takeData = false;
    std::string data;
    std::int64_t received = 0, sent = 0, downloadSize = 0, uploadSize = 0;
    double lastFraction = -1;
    bool offMainThread = false;

    void note(const std::string& what) {
        if (!foundation::MainQueue::isMainThread()) offMainThread = true;
        log.push_back(what);
    }
    void requestStarted(NetHTTPRequest&) override { note("started"); }
    void requestDidReceiveResponseHeaders(NetHTTPRequest&, const NetHeaders& headers) override {
        bool moved = false;
        for (const auto& header : headers) moved = moved || header.first == "Location";
        note(moved ? "headers of a redirect" : "headers");
    }
    void requestFinished(NetHTTPRequest&) override { note("finished"); }
    void requestFailed(NetHTTPRequest& r) override {
        note("failed " + std::to_string(r.error() ? r.error()->code : 0));
    }
    void requestRedirected(NetHTTPRequest&) override { note("redirected"); }
    void requestDidReceiveData(NetHTTPRequest&, const foundation::Data& d) override {
        data.append(d.begin(), d.end());
    }
    bool takesReceivedData() const override { return takeData; }

    void setDoubleValue(double value) override { lastFraction = value; }
    void requestDidReceiveBytes(NetHTTPRequest&, std::int64_t n) override { received += n; }
    void requestDidSendBytes(NetHTTPRequest&, std::int64_t n) override { sent += n; }
    void requestIncrementDownloadSizeBy(NetHTTPRequest&, std::int64_t n) override {
        downloadSize += n;
    }
    void requestIncrementUploadSizeBy(NetHTTPRequest&, std::int64_t n) override { uploadSize += n; }
};

void listen(NetHTTPRequest& request, const std::shared_ptr<Recorder>& recorder) {
    request.setDelegate(recorder);
    auto* r = recorder.get();
    request.setStartedBlock([r] { r->note("block started"); });
    request.setHeadersReceivedBlock([r](const NetHeaders&) { r->note("block headers"); });
    request.setCompletionBlock([r] { r->note("block finished"); });
    request.setFailedBlock([r] { r->note("block failed"); });
    request.setRequestRedirectedBlock([r] { r->note("block redirected"); });
}

// Runs the request on the network thread and waits, on the main loop, until it was heard
// of for the last time.
void runOnNetworkThread(const std::shared_ptr<NetHTTPRequest>& request, Recorder& recorder) {
    ASSERT_TRUE(request->start());
    testsupport::runMainLoopUntil([&] {
        return request->isFinished() && !recorder.log.empty() &&
               (recorder.log.back() == "block finished" || recorder.log.back() == "block failed");
    });
    testsupport::drainMainLoop();
}

}  // namespace

TEST(NetRequestListeners, NoticesArriveInOrderOnTheMainThread) {
    TestHttpServer server([](const ReceivedRequest& r) {
        if (r.target == "/moved") {
            ScriptedAnswer answer;
            answer.raw = "HTTP/1.1 302 Found\r\nLocation: /body\r\nContent-Length: 0\r\n\r\n";
            return answer;
        }
        if (r.target == "/drop") {
            ScriptedAnswer answer;
            answer.then = ScriptedAnswer::Then::Close;
            return answer;
        }
        return ScriptedAnswer::ok("the body");
    });
    struct Case {
        const char* path;
        bool synchronous;
        std::vector<std::string> expected;
    };
    const std::vector<std::string> plain = {"started",       "block started", "headers",
                                            "block headers", "finished",      "block finished"};
    const Case cases[] = {
        {"/body", false, plain},
        {"/body", true, plain},
        {"/moved",
         false,
         {"started", "block started", "redirected", "block redirected", "headers of a redirect",
          "block headers", "started", "block started", "headers", "block headers", "finished",
          "block finished"}},
        {"/drop", false, {"started", "block started", "failed 1", "block failed"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.path) + (c.synchronous ? " synchronous" : ""));
        auto recorder = std::make_shared<Recorder>();
        auto request = NetHTTPRequest::requestWithURL(Url::parse(server.url(c.path)));
        listen(*request, recorder);
        // A fresh connection each time, so that a dropped one is not tried again.
        request->setShouldAttemptPersistentConnection(false);
        if (c.synchronous) {
            request->startSynchronous();  // on the main thread: heard at once
        } else {
            runOnNetworkThread(request, *recorder);
        }
        EXPECT_EQ(recorder->log, c.expected);
        EXPECT_FALSE(recorder->offMainThread);
    }
}

TEST(NetRequestListeners, ADelegateThatTakesTheDataKeepsItFromTheRequest) {
    const std::string body(200000, 'd');
    TestHttpServer server([&](const ReceivedRequest&) { return ScriptedAnswer::ok(body); });
    for (bool take : {false, true}) {
        SCOPED_TRACE(take);
        auto recorder = std::make_shared<Recorder>();
        recorder->takeData = take;
        auto request = NetHTTPRequest::requestWithURL(Url::parse(server.url("/")));
        listen(*request, recorder);
        runOnNetworkThread(request, *recorder);
        EXPECT_EQ(recorder->data, take ? body : "");
        EXPECT_EQ(request->rawResponseData().size(), take ? 0u : body.size());
    }
}

TEST(NetRequestListeners, NobodyHearsOfARequestClearedAndCancelled) {
    TestHttpServer server([](const ReceivedRequest&) {
        auto answer = ScriptedAnswer::ok("late");
        answer.delay = std::chrono::milliseconds(800);
        return answer;
    });
    auto recorder = std::make_shared<Recorder>();
    auto request = NetHTTPRequest::requestWithURL(Url::parse(server.url("/")));
    listen(*request, recorder);
    request->setDownloadProgressDelegate(recorder);
    ASSERT_TRUE(request->start());
    testsupport::runMainLoopUntil([&] { return recorder->log.size() >= 2; });
    request->clearDelegatesAndCancel();
    std::weak_ptr<Recorder> gone = recorder;
    auto heard = recorder->log;
    recorder.reset();  // a listener freed at once must not be reached
    EXPECT_TRUE(gone.expired());
    request->waitUntilFinished();
    testsupport::drainMainLoop();
    ASSERT_TRUE(request->error());
    EXPECT_EQ(request->error()->code, NetRequestCancelledErrorType);
    EXPECT_EQ(heard, (std::vector<std::string>{"started", "block started"}));
}

TEST(NetRequestListeners, ProgressCountsEveryByteOrEachRequestOnce) {
    const std::string body(300000, 'p');
    TestHttpServer server([&](const ReceivedRequest& r) {
        if (r.target == "/unknown") {
            ScriptedAnswer answer;
            answer.raw = "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + body;
            answer.then = ScriptedAnswer::Then::Close;
            return answer;
        }
        return ScriptedAnswer::ok(r.method == "POST" ? "ok" : body);
    });
    struct Case {
        const char* name;
        const char* path;
        std::string upload;
        std::int64_t downloadSize, received, uploadSize, sent;
    };
    const std::int64_t size = static_cast<std::int64_t>(body.size());
    const Case cases[] = {
        {"a known length", "/known", "", size, size, 0, 0},
        {"no length: one unit", "/unknown", "", 1, 1, 0, 0},
        {"an upload", "/post", std::string(400000, 'u'), 2, 2, 400000, 400000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto recorder = std::make_shared<Recorder>();
        auto request = NetHTTPRequest::requestWithURL(Url::parse(server.url(c.path)));
        listen(*request, recorder);
        request->setDownloadProgressDelegate(recorder);
        request->setUploadProgressDelegate(recorder);
        if (!c.upload.empty()) request->appendPostData(std::string_view(c.upload));
        runOnNetworkThread(request, *recorder);
        EXPECT_FALSE(request->error());
        EXPECT_EQ(recorder->downloadSize, c.downloadSize);
        EXPECT_EQ(recorder->received, c.received);
        // What the connection buffered at once is left out of both the size and the sent.
        EXPECT_EQ(recorder->uploadSize, recorder->sent);
        EXPECT_LE(recorder->sent, c.sent);
        EXPECT_DOUBLE_EQ(recorder->lastFraction, 1.0);
    }
}

TEST(NetRequestListeners, AHeadRequestReportsNothingAndGivesItsMainRequestTheLength) {
    TestHttpServer server([](const ReceivedRequest& r) {
        auto answer = ScriptedAnswer::ok(std::string(4321, 'h'));
        if (r.method == "HEAD") answer.raw.resize(answer.raw.find("\r\n\r\n") + 4);
        return answer;
    });
    auto recorder = std::make_shared<Recorder>();
    auto main = NetHTTPRequest::requestWithURL(Url::parse(server.url("/sized")));
    main->addRequestHeader("X-Mine", "1");
    main->setAuthenticationScheme("Basic");
    listen(*main, recorder);
    auto head = main->HEADRequest();
    EXPECT_EQ(head->mainRequest(), main);
    // The scheme comes from the HEAD request's own challenge, if any.
    EXPECT_EQ(head->authenticationScheme(), "");
    listen(*head, recorder);
    head->startSynchronous();
    EXPECT_FALSE(head->error());
    EXPECT_EQ(main->contentLength(), 4321u);
    EXPECT_TRUE(recorder->log.empty());
    auto sent = server.requests().back();
    EXPECT_EQ(sent.method, "HEAD");
    EXPECT_EQ(sent.header("X-Mine"), "1");
}

TEST(NetRequestListeners, ADelegateThatConfirmsRedirectsLeadsTheRequestOn) {
    TestHttpServer server([](const ReceivedRequest& r) {
        if (r.target == "/moved") {
            ScriptedAnswer answer;
            answer.raw = "HTTP/1.1 302 Found\r\nLocation: /first\r\nContent-Length: 0\r\n\r\n";
            return answer;
        }
        return ScriptedAnswer::ok("at " + r.target);
    });
    struct Confirming : Recorder {
        bool confirmsRedirects() const override { return true; }
        void requestWillRedirectToURL(NetHTTPRequest& request, const Url& url) override {
            note("asked about " + url.path());
            // Somewhere else than the server said.
            request.redirectToURL(*url.resolve("/second"));
        }
    };
    auto confirming = std::make_shared<Confirming>();
    auto request = NetHTTPRequest::requestWithURL(Url::parse(server.url("/moved")));
    listen(*request, confirming);
    runOnNetworkThread(request, *confirming);
    EXPECT_FALSE(request->error());
    EXPECT_EQ(request->responseString(), "at /second");
    EXPECT_NE(std::find(confirming->log.begin(), confirming->log.end(), "asked about /first"),
              confirming->log.end());
}
