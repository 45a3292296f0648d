#include <gtest/gtest.h>

#include <gtk/gtk.h>

#include <memory>

#include "DialogAnswerer.h"
#include "WebWindowFixture.h"
#include "content/URLRequest.h"
#include "platform/gtk/Alert.h"
#include "support/httpserver/TestHttpServer.h"
#include "platform/webkit/WebView.h"
#include "shell/bridge/WKWebViewScriptBridge.h"

using apptest::DialogAnswerer;
using apptest::WebWindowTest;

namespace {

constexpr int kFirst = gtk::Alert::kFirstButton;

// The page of these tests asks the user before it lets its window go.
void useAskingPage() {
    ASSERT_TRUE(content::StaticFileResponse::initializeWithData(
        contenttest::makePack({
            contenttest::file("index.html", apptest::page()),
            contenttest::file("ask.html",
                              apptest::page("window.addEventListener('beforeunload', function (e) {"
                                            " if (!confirm('Leave this window?')) e.preventDefault();"
                                            " });")),
        }),
        "pelmor"));
}

std::shared_ptr<WVWindowController> openAskingWindow() {
    auto controller = WVWindowController::createInstance();
    controller->loadURLString("myapp://x/ask.html");
    controller->showWindow();
    WebWindowTest::waitForValue(*controller->webview(), "typeof window.bridge", "\"object\"");
    return controller;
}

TEST_F(WebWindowTest, TheShortFormsMakeStandardWindows) {
    auto standard = WVWindowController::createInstance();
    EXPECT_EQ(standard->window()->styleMask(), 15u);
    EXPECT_FALSE(standard->window()->isBorderless());
    int width = 0, height = 0;
    gtk_window_get_default_size(standard->window()->gtkWindow(), &width, &height);
    EXPECT_EQ(width, 500);
    EXPECT_EQ(height, 460);
    EXPECT_EQ(WVWindowController::createInstanceWithWindowRect({0, 0, 300, 200})->window()->styleMask(),
              15u);
    auto bare = WVWindowController::createInstanceWithWindowRectStyleMask({0, 0, 300, 200}, gtk::Closable);
    EXPECT_TRUE(bare->window()->isBorderless());
    // Without a title bar: the titled bit is added, and the content covers the whole frame.
    EXPECT_EQ(bare->window()->styleMask(), std::uint64_t(0x8003));
}

TEST_F(WebWindowTest, ARequestIsLoadedWithItsHeaderFields) {
    testsupport::TestHttpServer server([](const testsupport::ReceivedRequest&) {
        return testsupport::ScriptedAnswer::ok("<title>served</title>",
                                               "Content-Type: text/html\r\n");
    });
    auto controller = WVWindowController::createInstance();
    content::URLRequest request;
    request.url = *foundation::Url::parse(server.url("/page"));
    request.allHTTPHeaderFields.set("X-Orvandel-Test", "yes");
    controller->loadRequest(request);
    waitForValue(*controller->webview(), "document.title", "\"served\"");
    const auto requests = server.requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.front().target, "/page");
    EXPECT_EQ(requests.front().header("X-Orvandel-Test"), "yes");
}

// A further delegate that refuses one address and leaves every other navigation alone.
class RefusingDelegate : public WebViewNavigationDelegate {
public:
    bool decidePolicyForNavigationAction(
        const std::string& uri, const std::shared_ptr<webkit::NavigationDecision>& decision) override {
        if (uri.find("child.html") == std::string::npos) return false;
        ++refused;
        decision->cancel();
        return true;
    }
    int refused = 0;
};

TEST_F(WebWindowTest, TheFurtherDelegateDecidesOnlyWhileItLives) {
    auto controller = openWindow();
    auto& view = *controller->webview();
    auto delegate = std::make_shared<RefusingDelegate>();
    controller->wvbridge()->setWebViewDelegate(delegate);
    eval(view, "location.href = 'child.html'; 0");
    ASSERT_TRUE(testsupport::runMainLoopUntil([&] { return delegate->refused == 1; }));
    EXPECT_NE(view.uri().find("index.html"), std::string::npos);
    // Held weakly: once it is gone the navigation goes ahead.
    delegate.reset();
    eval(view, "location.href = 'child.html'; 0");
    EXPECT_TRUE(testsupport::runMainLoopUntil(
        [&] { return view.uri().find("child.html") != std::string::npos; }));
}

// A page whose "beforeunload" shows confirm() keeps its window while the panel waits, for
// however long; the answer decides.
TEST_F(WebWindowTest, AClosingQuestionWaitsForThePagesPanel) {
    useAskingPage();
    auto controller = openAskingWindow();
    auto window = controller->window();
    {
        DialogAnswerer cancel(kFirst + 1);
        testing::internal::CaptureStderr();
        window->performClose();
        const std::string console = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(cancel.answered());
        EXPECT_NE(console.find("false - boolean"), std::string::npos) << console;
    }
    EXPECT_FALSE(window->isClosed());

    struct Later {
        bool openAfterTenSeconds = false;
        std::unique_ptr<DialogAnswerer> ok;
        std::shared_ptr<gtk::Window> window;
    } later{false, nullptr, window};
    g_timeout_add_seconds(
        10,
        [](gpointer data) -> gboolean {
            auto* later = static_cast<Later*>(data);
            later->openAfterTenSeconds = !later->window->isClosed();
            later->ok = std::make_unique<DialogAnswerer>(kFirst);
            return G_SOURCE_REMOVE;
        },
        &later);
    window->performClose();
    EXPECT_TRUE(later.openAfterTenSeconds);
    ASSERT_TRUE(later.ok);
    EXPECT_TRUE(later.ok->answered());
    EXPECT_TRUE(window->isClosed());
}

}  // namespace
