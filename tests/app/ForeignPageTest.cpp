#include <gtest/gtest.h>

#include <algorithm>

#include "FileDrop.h"
#include "WebWindowFixture.h"
#include "foundation/ScratchFolder.h"
#include "shell/bridge/WKWebViewScriptBridge.h"
#include "support/MainLoop.h"
#include "support/httpserver/TestHttpServer.h"

using apptest::WebWindowTest;
using testsupport::ReceivedRequest;
using testsupport::ScriptedAnswer;
using testsupport::TestHttpServer;

namespace {

// A page that starts the bridge as ours do and reads a file of the computer through
// "/fetch", keeping what came in window.fetched (and the status in window.fetchStatus).
std::string probePage(const std::string& secretPath) {
    return apptest::page(
        "window.fetched = null;"
        "fetch('myapp://x/fetch?action=localfile&path=" + secretPath + "')"
        ".then(function (r) { window.fetchStatus = r.status; return r.text(); })"
        ".then(function (t) { window.fetched = 'body:' + t; },"
        "      function (e) { window.fetched = 'error:' + e; })"
        ".then(function () { document.documentElement.append('fetch: ' + window.fetched); });");
}

// A file of the person's, and the probe page that reads it: in the pack as "probe.html"
// (our page) and on the disk beside it as "dropped.html".
class Probe {
public:
    Probe() {
        foundationtest::writeText(secret, "the person's file");
        foundationtest::writeText(dropped, probePage(secret));
        EXPECT_TRUE(content::StaticFileResponse::initializeWithData(
            contenttest::makePack({contenttest::file("probe.html", probePage(secret))}), "pelmor"));
    }

    foundationtest::ScratchFolder folder;
    const std::string secret = folder / "secret.txt";
    const std::string dropped = folder / "dropped.html";
};

std::shared_ptr<WVWindowController> plainWindow() {
    auto controller = WVWindowController::createInstanceWithWindowRectStyleMaskWebconfig(
        {0, 0, 500, 400}, gtk::Titled | gtk::Closable | gtk::Resizable, nullptr);
    controller->showWindow();
    return controller;
}

// Our page has the bridge (an event is answered) and reads the file.
void expectBridgeAndFile(webkit::WebView& view) {
    WebWindowTest::waitForValue(view, "typeof window.bridge", "\"object\"");
    WebWindowTest::startCall(view, "event", "wvevent",
                             foundation::Value::dict({{"event", "nope"},
                                                      {"data", foundation::Value::dict({{"cmd", "x"}})}}));
    EXPECT_FALSE(WebWindowTest::answer(view, "event")["error"].isNil());
    WebWindowTest::waitForValue(view, "window.fetched", "\"body:the person's file\"");
}

// Another page's fetch was refused (403) or failed, and it got no bridge: neither the
// script it asked for nor the native side's pushes.
void expectNoBridgeAndNoFile(WVWindowController& controller) {
    webkit::WebView& view = *controller.webview();
    ASSERT_TRUE(testsupport::runMainLoopUntil(
        [&] { return WebWindowTest::eval(view, "typeof window.fetched === 'string'") == "true"; },
        std::chrono::seconds(20)));
    EXPECT_EQ(WebWindowTest::eval(view, "window.fetched.indexOf('the person') < 0 && "
                                        "(window.fetchStatus === 403 || "
                                        "window.fetched.indexOf('error:') === 0)"),
              "true")
        << WebWindowTest::eval(view, "window.fetched");
    // The page asked for the bridge before its fetch went out, and a served request would
    // have put the bridge's script in ahead of the fetch's answer: none came.
    EXPECT_EQ(WebWindowTest::eval(view, "typeof window.bridge"), "\"undefined\"");
    controller.wvbridge()->callHandler("nativePush", foundation::Value::dict({{"a", 1}}));
    testsupport::drainMainLoop();
    EXPECT_EQ(WebWindowTest::eval(view, "window.pushed.length"), "0");
}

// A window navigated from our page to a web address keeps its view, but the page there
// reaches neither the bridge nor "/fetch"; back on our page both work again.
TEST_F(WebWindowTest, APageOfAnotherOriginGetsNoBridgeAndNoFetchBody) {
    Probe probe;
    TestHttpServer server([&](const ReceivedRequest&) {
        return ScriptedAnswer::ok(probePage(probe.secret), "Content-Type: text/html\r\n");
    });
    auto controller = plainWindow();
    webkit::WebView& view = *controller->webview();
    controller->loadURLString("myapp://x/probe.html");
    expectBridgeAndFile(view);

    const std::string foreign = server.url("/page.html");
    controller->loadURLString(foreign);
    ASSERT_TRUE(waitForValue(view, "location.href", "\"" + foreign + "\""));
    expectNoBridgeAndNoFile(*controller);
    screenshot(view, "foreign-page");
    EXPECT_FALSE(server.requests().empty());

    controller->loadURLString("myapp://x/probe.html");
    expectBridgeAndFile(view);
    controller->window()->close();
}

// A page read from the person's disk: the view lets file pages read files (and any
// origin), and their requests to "myapp" carry no Origin header. It still reaches neither
// the bridge nor "/fetch"; our page shown next in the same view has both again.
TEST_F(WebWindowTest, AFilePageGetsNoBridgeAndNoFetchBody) {
    Probe probe;
    auto controller = plainWindow();
    webkit::WebView& view = *controller->webview();
    controller->loadURLString("file://" + probe.dropped);
    ASSERT_TRUE(waitForValue(view, "location.protocol", "\"file:\""));
    expectNoBridgeAndNoFile(*controller);
    screenshot(view, "file-page");

    controller->loadURLString("myapp://x/probe.html");
    expectBridgeAndFile(view);
    controller->window()->close();
}

// Requests that no script starts carry no Origin header, a script element's for one: a page
// of a web address gets no file of the person's that way either.
TEST_F(WebWindowTest, AnOriginlessRequestOfAnotherPageGetsNoFile) {
    foundationtest::ScratchFolder folder;
    const std::string secret = folder / "secret.js";
    foundationtest::writeText(secret, "window.leaked = 'the person\\'s file';");
    const std::string probe =
        "<!DOCTYPE html><script>window.leaked = null; window.loaded = null;</script>"
        "<script src='myapp://x/fetch?action=localfile&path=" + secret + "' "
        "onload='window.loaded = \"load\"' onerror='window.loaded = \"error\"'></script>";
    TestHttpServer server([&](const ReceivedRequest&) {
        return ScriptedAnswer::ok(probe, "Content-Type: text/html\r\n");
    });
    auto controller = plainWindow();
    webkit::WebView& view = *controller->webview();
    controller->loadURLString(server.url("/page.html"));
    ASSERT_TRUE(testsupport::runMainLoopUntil(
        [&] { return eval(view, "typeof window.loaded === 'string'") == "true"; },
        std::chrono::seconds(20)));
    EXPECT_EQ(eval(view, "window.leaked"), "null");
    EXPECT_EQ(eval(view, "window.loaded"), "\"error\"");
    controller->window()->close();
}

// A file dragged onto a window: our page stays, its bridge and "/fetch" working, whatever is
// dropped (the page takes every drop from WebKit); a page of another origin shown in a window gives way to the dropped file page,
// which gets neither the bridge nor "/fetch". (The window system may lose a drag on a busy
// machine: a drop is tried again until the window shows that it arrived.)
TEST_F(WebWindowTest, ADroppedFilePageNeverReplacesOurPageAndReadsNothing) {
    Probe probe;
    TestHttpServer server([](const ReceivedRequest&) {
        return ScriptedAnswer::ok("<title>elsewhere</title>", "Content-Type: text/html\r\n");
    });
    auto controller = plainWindow();
    webkit::WebView& view = *controller->webview();
    const std::string fileAddress = "file://" + probe.dropped;
    auto dropUntil = [&](const std::function<bool()>& arrived) {
        for (int attempt = 0; attempt < 3; ++attempt) {
            apptest::FileDrop(fileAddress).onto(view.widget());
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            while (std::chrono::steady_clock::now() < until) {
                if (arrived()) return true;
                apptest::FileDrop::pause(100);
            }
        }
        return false;
    };

    controller->loadURLString("myapp://x/probe.html");
    expectBridgeAndFile(view);
    // Our page takes the drop from WebKit: it is neither opened nor read.
    eval(view, "window.drops = []; window.addEventListener('drop', function (e) {"
               " window.drops.push(e.defaultPrevented); }); 0");
    EXPECT_TRUE(dropUntil([&] { return eval(view, "window.drops.length > 0") == "true"; }));
    EXPECT_EQ(eval(view, "window.drops.every(function (taken) { return taken; })"), "true");
    testsupport::drainMainLoop();
    EXPECT_EQ(eval(view, "location.href"), "\"myapp://x/probe.html\"");
    eval(view, "window.fetched = null; fetch('myapp://x/fetch?action=localfile&path=" +
                   probe.secret +
                   "').then(function (r) { return r.text(); })"
                   ".then(function (t) { window.fetched = 'body:' + t; }); 0");
    expectBridgeAndFile(view);

    controller->loadURLString(server.url("/elsewhere.html"));
    ASSERT_TRUE(waitForValue(view, "document.title", "\"elsewhere\""));
    ASSERT_TRUE(dropUntil([&] { return view.committedURI() == fileAddress; }));
    expectNoBridgeAndNoFile(*controller);
    screenshot(view, "dropped-file-page");
    controller->window()->close();
}

}  // namespace

namespace {

// A further delegate that takes every navigation event the front hands on.
class LoadRecorder : public WebViewNavigationDelegate {
public:
    bool decidesNavigationResponses() const override { return true; }
    void decidePolicyForNavigationResponse(
        const std::string& uri, const std::shared_ptr<webkit::NavigationDecision>& decision) override {
        events.push_back("response " + uri);
        decision->allow();
    }
    bool didReceiveAuthenticationChallenge(WebKitAuthenticationRequest* request) override {
        events.push_back("challenge");
        webkit_authentication_request_cancel(request);
        return true;
    }
    void didStartProvisionalNavigation(const std::string& uri) override {
        events.push_back("start " + uri);
    }
    void didFinishNavigation(const std::string& uri) override { events.push_back("finish " + uri); }
    void didFailNavigation(const std::string& uri, const std::string&) override {
        events.push_back("fail " + uri);
    }
    void didFailProvisionalNavigation(const std::string& uri, const std::string& error) override {
        events.push_back("fail early " + uri + (error.empty() ? " without words" : ""));
    }
    bool saw(const std::string& event) const {
        return std::find(events.begin(), events.end(), event) != events.end();
    }
    std::vector<std::string> events;
};

}  // namespace

// The bridge front hands the view's load steps, its answers to be shown and a server's
// request for credentials on to the further delegate.
TEST_F(WebWindowTest, TheFrontHandsLoadStepsAnswersAndChallengesToTheFurtherDelegate) {
    TestHttpServer server([](const ReceivedRequest& request) {
        if (request.target == "/secret") {
            ScriptedAnswer answer;
            answer.raw =
                "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"r\"\r\n"
                "Content-Length: 4\r\n\r\nnope";
            return answer;
        }
        return ScriptedAnswer::ok("<p>page</p>", "Content-Type: text/html\r\n");
    });
    auto controller = plainWindow();
    auto recorder = std::make_shared<LoadRecorder>();
    controller->wvbridge()->setWebViewDelegate(recorder);

    const std::string page = server.url("/page.html");
    controller->loadURLString(page);
    ASSERT_TRUE(testsupport::runMainLoopUntil([&] { return recorder->saw("finish " + page); }));
    EXPECT_TRUE(recorder->saw("start " + page));
    EXPECT_TRUE(recorder->saw("response " + page));

    // A port nothing listens on (one the engine does not refuse outright, as it does port 1).
    std::string refused;
    {
        TestHttpServer gone([](const ReceivedRequest&) { return ScriptedAnswer::ok(""); });
        refused = gone.url("/");
    }
    controller->loadURLString(refused);
    ASSERT_TRUE(testsupport::runMainLoopUntil([&] { return recorder->saw("fail early " + refused); }))
        << ::testing::PrintToString(recorder->events);

    // WebKit's error page for it ends before the next load begins.
    ASSERT_TRUE(testsupport::runMainLoopUntil([&] { return recorder->saw("finish " + refused); }));
    controller->loadURLString(server.url("/secret"));
    EXPECT_TRUE(testsupport::runMainLoopUntil([&] { return recorder->saw("challenge"); }))
        << ::testing::PrintToString(recorder->events);
    controller->window()->close();
}
