#include <gtest/gtest.h>

#include <mutex>

#include "WebWindowFixture.h"
#include "http/NetHTTPClientRequest.h"
#include "shell/KolvexAppDelegate.h"
#include "shell/events/HttpRequestHandler.h"
#include "support/httpserver/TestHttpServer.h"

using apptest::WebWindowTest;
using testsupport::ReceivedRequest;
using testsupport::ScriptedAnswer;
using testsupport::TestHttpServer;

namespace {

// The start page's HTTP section asks the running application's "http" handler and shows
// the status, the status line of a failure and the first lines of the body. It offers the
// two methods the handler sends: GET and POST.
TEST_F(WebWindowTest, HttpSectionShowsTheAnswerOfALocalServer) {
    std::string body;
    for (int i = 1; i <= 30; ++i) body += "line " + std::to_string(i) + "\n";
    TestHttpServer server([&](const ReceivedRequest& r) {
        if (r.target == "/missing") {
            ScriptedAnswer answer;
            answer.raw = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n";
            return answer;
        }
        return ScriptedAnswer::ok(
            body, "Content-Type: text/plain; charset=utf-8\r\nX-Served-By: test\r\n");
    });

    auto window = std::make_shared<gtk::Window>(gtk::Rect{0, 0, 1100, 900},
                                                gtk::Titled | gtk::Closable | gtk::Resizable);
    KolvexAppDelegate delegate(window, AppServices{}, {"orvandel"});
    delegate.awakeFromNib();
    window->show();
    auto view = delegate.windowController()->webview();
    ASSERT_TRUE(waitForValue(*view, "!!document.getElementById('http-url')", "true"));

    auto ask = [&](const std::string& url, const std::string& method) {
        eval(*view, "document.getElementById('http-method').value = '" + method +
                        "';"
                        "document.getElementById('http-url').value = '" +
                        url +
                        "';"
                        "document.getElementById('http-send').click(); 0");
    };
    EXPECT_EQ(eval(*view,
                   "Array.from(document.querySelectorAll('#http-method option')).map("
                   "function (o) { return o.value; }).join(',')"),
              "\"GET,POST\"");
    ask(server.url("/missing"), "POST");
    EXPECT_TRUE(waitForValue(*view, "document.getElementById('http-status').textContent",
                             "\"Status 404 — HTTP/1.1 404 Not Found\""));
    EXPECT_EQ(server.requests().back().method, "POST");

    ask("http://127.0.0.1:1/", "GET");
    EXPECT_TRUE(
        waitForValue(*view, "document.getElementById('http-status').className", "\"error\""));
    // A connection that could not be made says to where and why.
    EXPECT_EQ(eval(*view, "document.getElementById('http-status').textContent"),
              "\"Could not connect to 127.0.0.1: Connection refused\"");
    // No body, no empty box for one.
    EXPECT_EQ(eval(*view, "document.getElementById('http-body').offsetHeight"), "0");
    screenshot(*view, "http-section-refused");

    ask(server.url("/text"), "GET");
    EXPECT_TRUE(waitForValue(*view, "document.getElementById('http-status').textContent",
                             "\"Status 200\""));
    EXPECT_EQ(eval(*view, "document.getElementById('http-body').textContent.split('\\n').length"),
              "21");
    EXPECT_EQ(eval(*view, "document.getElementById('http-body').textContent.split('\\n')[0]"),
              "\"line 1\"");
    screenshot(*view, "http-section");
    // Time for a screenshot of the finished section when one is being taken.
    if (std::getenv("ORVANDEL_HOLD_SECONDS") != nullptr) {
        auto until = std::chrono::steady_clock::now() +
                     std::chrono::seconds(std::atoi(std::getenv("ORVANDEL_HOLD_SECONDS")));
        testsupport::runMainLoopUntil([&] { return std::chrono::steady_clock::now() > until; },
                                      std::chrono::seconds(60));
    }
}

}  // namespace
