#include <gtest/gtest.h>

#include "WebWindowFixture.h"
#include "foundation/ScratchFolder.h"
#include "shell/bridge/WKWebViewScriptBridge.h"
#include "support/httpserver/TestHttpServer.h"

using apptest::WebWindowTest;
using testsupport::ReceivedRequest;
using testsupport::ScriptedAnswer;
using testsupport::TestHttpServer;

namespace {

// A page that starts the bridge as ours do and reads a file of the computer through
// "/fetch", keeping what came in window.fetched.
std::string probePage(const std::string& secretPath) {
    return apptest::page(
        "window.fetched = null;"
        "fetch('myapp://x/fetch?action=localfile&path=" + secretPath + "')"
        ".then(function (r) { return r.text(); })"
        ".then(function (t) { window.fetched = 'body:' + t; },"
        "      function (e) { window.fetched = 'error:' + e; })"
        ".then(function () { document.documentElement.append('fetch: ' + window.fetched); });");
}

// A window navigated from our page to a web address keeps its view, but the page there
// reaches neither the bridge nor "/fetch"; back on our page both work again.
TEST_F(WebWindowTest, APageOfAnotherOriginGetsNoBridgeAndNoFetchBody) {
    foundationtest::ScratchFolder folder;
    const std::string secret = folder / "secret.txt";
    foundationtest::writeText(secret, "the person's file");
    ASSERT_TRUE(content::StaticFileResponse::initializeWithData(
        contenttest::makePack({contenttest::file("probe.html", probePage(secret))}), "pelmor"));
    TestHttpServer server(
        [&](const ReceivedRequest&) { return ScriptedAnswer::ok(probePage(secret),
                                                                "Content-Type: text/html\r\n"); });

    auto controller = WVWindowController::createInstanceWithWindowRectStyleMaskWebconfig(
        {0, 0, 500, 400}, gtk::Titled | gtk::Closable | gtk::Resizable, nullptr);
    controller->showWindow();
    webkit::WebView& view = *controller->webview();
    auto expectOwnPage = [&] {
        waitForValue(view, "typeof window.bridge", "\"object\"");
        startCall(view, "event", "wvevent",
                  foundation::Value::dict(
                      {{"event", "nope"}, {"data", foundation::Value::dict({{"cmd", "x"}})}}));
        EXPECT_FALSE(answer(view, "event")["error"].isNil());
        waitForValue(view, "window.fetched", "\"body:the person's file\"");
    };
    controller->loadURLString("myapp://x/probe.html");
    expectOwnPage();

    const std::string foreign = server.url("/page.html");
    controller->loadURLString(foreign);
    ASSERT_TRUE(waitForValue(view, "location.href", "\"" + foreign + "\""));
    ASSERT_TRUE(testsupport::runMainLoopUntil(
        [&] { return eval(view, "window.fetched !== null && window.fetched !== undefined") == "true"; },
        std::chrono::seconds(20)));
    EXPECT_EQ(eval(view, "window.fetched.indexOf('the person') < 0"), "true")
        << eval(view, "window.fetched");
    // The page asked for the bridge before its fetch went out, and a served request would
    // have put the bridge's script in ahead of the fetch's answer: none came.
    EXPECT_EQ(eval(view, "typeof window.bridge"), "\"undefined\"");
    controller->wvbridge()->callHandler("nativePush", foundation::Value::dict({{"a", 1}}));
    testsupport::drainMainLoop();
    EXPECT_EQ(eval(view, "window.pushed.length"), "0");
    screenshot(view, "foreign-page");
    EXPECT_FALSE(server.requests().empty());

    controller->loadURLString("myapp://x/probe.html");
    expectOwnPage();
    controller->window()->close();
}

}  // namespace
