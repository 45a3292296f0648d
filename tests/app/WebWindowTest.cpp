#include <gtest/gtest.h>

#include <webkit2/webkit2.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <thread>

#include "WebWindowFixture.h"
#include "foundation/NotificationCenter.h"
#include "shell/ShellNotifications.h"
#include "shell/bridge/WKWebViewScriptBridge.h"
#include "shell/bridge/WebViewNavigationDelegate.h"

using apptest::OpenedWindows;
using apptest::WebWindowTest;
using foundation::Value;

namespace {

class RecordingDelegate : public WVWindowControllerDelegate {
public:
    void OnWVBridgeReady(const foundation::Value& data) override { ready.push_back(data); }
    std::vector<foundation::Value> ready;
};

std::shared_ptr<WVWindowController> openMain(RecordingDelegate& delegate) {
    auto controller = WVWindowController::createInstanceWithWindowRectStyleMaskWebconfig(
        {0, 0, 500, 400}, gtk::Titled | gtk::Closable | gtk::Resizable, nullptr);
    controller->setWvdelegate(&delegate);
    controller->loadURLString("myapp://x/index.html");
    controller->showWindow();
    EXPECT_TRUE(testsupport::runMainLoopUntil([&] { return !delegate.ready.empty(); }));
    return controller;
}

// Has the main page open `page` in a window of its own: that window, or null when none came.
WVWindowController* openChild(WVWindowController& main, OpenedWindows& opened,
                              const std::string& page) {
    WebWindowTest::eval(*main.webview(), "window.open('" + page + "'); 0");
    if (!testsupport::runMainLoopUntil([&] { return opened.all.size() == 1; })) return nullptr;
    return opened.all.front();
}

TEST_F(WebWindowTest, BridgeReadyPushesAndEventsTravelBothWays) {
    RecordingDelegate delegate;
    auto controller = openMain(delegate);
    ASSERT_FALSE(delegate.ready.empty());
    EXPECT_EQ(delegate.ready.front()["page"].stringOr(), "/index.html");

    controller->wvbridge()->callHandler("nativePush", foundation::Value::dict({{"a", 1}}));
    waitForValue(*controller->webview(), "JSON.stringify(window.pushed)", "\"[{\\\"a\\\":1}]\"");

    eval(*controller->webview(), "call('wvevent', {event: 'nope', data: {cmd: 'x'}}); 0");
    waitForValue(*controller->webview(),
                 "String(window.replies.wvevent && window.replies.wvevent.error).indexOf("
                 "'unhandled command: ') == 0",
                 "true");

    const std::string id = controller->uniqueId();
    controller->initWebviewWithConfiguration(nullptr);  // a second set-up changes nothing
    EXPECT_EQ(controller->uniqueId(), id);
    controller->window()->close();
}

TEST_F(WebWindowTest, ClosingAWindowTellsOnlyTheOtherPages) {
    RecordingDelegate delegate;
    auto main = openMain(delegate);
    OpenedWindows opened;
    WVWindowController* child = openChild(*main, opened, "child.html?name=kid");
    ASSERT_NE(child, nullptr);
    ASSERT_EQ(child->name(), "kid");
    const std::string childId = child->uniqueId();

    child->window()->performClose();
    waitForValue(*main->webview(), "JSON.stringify(window.closedWindows)",
                 "\"[{\\\"id\\\":\\\"" + childId + "\\\",\\\"name\\\":\\\"kid\\\"}]\"");
    main->window()->close();
}

// The closing page hears "unload" while its view still lives, and not of its own closing;
// the other pages hear of it. (A window the page opens "native" shares its opener's page
// process, so the closing page can leave its notes with the opener.)
TEST_F(WebWindowTest, TheClosingPageHearsUnloadButNotOfItsOwnClosing) {
    RecordingDelegate delegate;
    auto main = openMain(delegate);
    OpenedWindows opened;
    eval(*main->webview(), "window.heard = []; 0");
    WVWindowController* child = openChild(*main, opened, "child.html?native=1&name=kid");
    ASSERT_NE(child, nullptr);
    auto& page = *child->webview();
    waitForValue(page, "typeof window.bridge", "\"object\"");
    // The window's own "unload" is the one dispatched by script; the browser may send its
    // own as the page goes.
    eval(page, "window.addEventListener('unload', function (e) {"
               " window.opener.heard.push(e.isTrusted ? 'unload by the browser' : 'unload'); });"
               "window.bridge.registerHandler('wvWindowClosed', function (d) {"
               " window.opener.heard.push('closed ' + d.name); }); 0");
    std::vector<std::string> destroyed;
    auto& center = foundation::NotificationCenter::defaultCenter();
    const auto observer = center.addObserver(
        kWebviewWindowControllerDestroyed, nullptr, [&](const foundation::Notification& n) {
            // The view is still there when the clean-up tells the others.
            const auto* controller = static_cast<const WVWindowController*>(n.object);
            destroyed.push_back(controller->webview() ? "with view" : "without view");
        });
    child->window()->performClose();
    center.removeObserver(observer);
    EXPECT_EQ(destroyed, std::vector<std::string>{"with view"});
    waitForValue(*main->webview(), "JSON.stringify(window.closedWindows.map(function (w) {"
                                   " return w.name; }))",
                 "\"[\\\"kid\\\"]\"");
    testsupport::drainMainLoop();
    EXPECT_EQ(eval(*main->webview(), "window.heard.filter(function (h) {"
                                     " return h !== 'unload by the browser'; }).join('|')"),
              "\"unload\"");
    main->window()->close();
}

// A device notice without a device tells the page nothing, nor does an unknown command;
// the page's empty title makes the window's title empty.
TEST_F(WebWindowTest, NoticesWithoutADeviceTellNothingAndAnEmptyTitleIsKept) {
    RecordingDelegate delegate;
    auto main = openMain(delegate);
    auto& center = foundation::NotificationCenter::defaultCenter();
    center.post(kIDeviceNotification, nullptr, {{"cmd", foundation::Value("added")}});
    center.post(kIDeviceNotification, nullptr,
                {{"cmd", foundation::Value("other")}, {"device", foundation::Value::dict({{"n", 0}})}});
    center.post(kIDeviceNotification, nullptr,
                {{"cmd", foundation::Value("added")}, {"device", foundation::Value::dict({{"n", 1}})}});
    waitForValue(*main->webview(), "JSON.stringify(window.pushed)", "\"[{\\\"n\\\":1}]\"");

    EXPECT_TRUE(testsupport::runMainLoopUntil([&] { return main->window()->title() == "test"; }));
    eval(*main->webview(), "document.title = ''; 0");
    EXPECT_TRUE(testsupport::runMainLoopUntil([&] { return main->window()->title().empty(); }))
        << main->window()->title();
    main->window()->close();
}

TEST_F(WebWindowTest, APageThatCancelsBeforeUnloadKeepsItsWindow) {
    RecordingDelegate delegate;
    auto main = openMain(delegate);
    OpenedWindows opened;
    eval(*main->webview(), "window.open('stay.html'); window.open('child.html'); 0");
    ASSERT_TRUE(testsupport::runMainLoopUntil([&] { return opened.all.size() == 2; }));
    for (auto* window : opened.all) {
        const bool stays = window->webview()->uri().find("stay.html") != std::string::npos;
        auto gtkWindow = window->window();
        gtkWindow->performClose();
        EXPECT_EQ(gtkWindow->isClosed(), !stays) << window->webview()->uri();
        if (!stays) continue;
        // Once its page is gone (a crashed web process), nothing can object any more.
        webkit_web_view_terminate_web_process(window->webview()->view());
        gtkWindow->performClose();
        EXPECT_TRUE(gtkWindow->isClosed());
    }
    main->window()->close();
}

TEST_F(WebWindowTest, AWindowWhosePageNeverAnswersStillCloses) {
    RecordingDelegate delegate;
    auto main = openMain(delegate);
    OpenedWindows opened;
    WVWindowController* child = openChild(*main, opened, "child.html");
    ASSERT_NE(child, nullptr);
    const auto view = child->webview();
    waitForValue(*view, "document.readyState !== 'loading'", "true");
    // The page's script runs without end from now on: it answers no closing question.
    eval(*view, "setTimeout(() => { for (;;) {} }, 0); 0");
    auto gtkWindow = child->window();
    gtkWindow->performClose();
    EXPECT_TRUE(gtkWindow->isClosed());
    webkit_web_view_terminate_web_process(view->view());
    webkit_web_view_terminate_web_process(main->webview()->view());
    main->window()->close();
}

// A page whose closing question cannot even be asked (its dispatch throws) cannot object:
// the window the person asked to close closes.
TEST_F(WebWindowTest, AWindowWhoseClosingQuestionFailsCloses) {
    RecordingDelegate delegate;
    auto main = openMain(delegate);
    OpenedWindows opened;
    WVWindowController* child = openChild(*main, opened, "child.html");
    ASSERT_NE(child, nullptr);
    waitForValue(*child->webview(), "typeof window.bridge", "\"object\"");
    eval(*child->webview(),
         "window.dispatchEvent = function () { throw new Error('broken'); }; 0");
    ASSERT_EQ(eval(*child->webview(), "try { window.dispatchEvent(new Event('x')); 'no' }"
                                      " catch (e) { e.message }"),
              "\"broken\"");
    auto gtkWindow = child->window();
    gtkWindow->performClose();
    EXPECT_TRUE(gtkWindow->isClosed());
    main->window()->close();
}

TEST_F(WebWindowTest, DeviceRemovalReachesThePage) {
    RecordingDelegate delegate;
    auto main = openMain(delegate);
    auto& view = *main->webview();
    eval(view, "window.removed = []; window.bridge.registerHandler('iDeviceRemoved',"
               " function (d) { window.removed.push(d); }); 0");
    auto& center = foundation::NotificationCenter::defaultCenter();
    center.post(kIDeviceNotification, nullptr, {{"cmd", foundation::Value("removed")}});
    center.post(kIDeviceNotification, nullptr,
                {{"cmd", foundation::Value("removed")},
                 {"device", foundation::Value::dict({{"uuid", "A1"}})}});
    waitForValue(view, "JSON.stringify(window.removed)", "\"[{\\\"uuid\\\":\\\"A1\\\"}]\"");
    EXPECT_EQ(eval(view, "JSON.stringify(window.pushed)"), "\"[]\"");  // no "iDeviceAdded"
    main->window()->close();
}

// A modal sheet runs its session (said on the console) without covering its opener, and
// the pages hear of it opening and closing.
TEST_F(WebWindowTest, AModalSheetTellsThePagesWhenItOpensAndCloses) {
    RecordingDelegate delegate;
    auto main = openMain(delegate);
    OpenedWindows opened;
    testing::internal::CaptureStderr();
    WVWindowController* sheet = openChild(*main, opened, "child.html?sheet=1&modal=1");
    const std::string console = testing::internal::GetCapturedStderr();
    ASSERT_NE(sheet, nullptr);
    EXPECT_NE(console.find("runModalSession\n"), std::string::npos) << console;
    EXPECT_FALSE(main->window()->hasCover());
    waitForValue(*main->webview(), "JSON.stringify(window.modal)", "\"[\\\"enter\\\"]\"");
    waitForValue(*sheet->webview(), "JSON.stringify(window.modal)", "\"[\\\"enter\\\"]\"");

    sheet->window()->performClose();
    waitForValue(*main->webview(), "JSON.stringify(window.modal)",
                 "\"[\\\"enter\\\",\\\"leave\\\"]\"");
    main->window()->close();
}

// What the bridge front hands on to its further delegate.
class NavigationRecorder : public WebViewNavigationDelegate {
public:
    bool decidePolicyForNavigationAction(
        const std::string& uri, const std::shared_ptr<webkit::NavigationDecision>&) override {
        uris.push_back(uri);
        return false;  // allowed, as without a delegate
    }
    std::vector<std::string> uris;
};

// The bridge's own signals, under either scheme and in any letter case, stop at the
// bridge; every other navigation reaches the further delegate.
TEST_F(WebWindowTest, TheBridgesSignalsNeverReachTheFurtherDelegate) {
    auto window = openWindow();
    auto& view = *window->webview();
    auto recorder = std::make_shared<NavigationRecorder>();
    window->wvbridge()->setWebViewDelegate(recorder);
    auto frame = [&](const std::string& url) {
        eval(view, "var f = document.createElement('iframe'); f.style.display = 'none';"
                   " f.src = '" + url + "'; document.documentElement.appendChild(f); 0");
    };
    startCall(view, "asked", "wvevent", Value::dict({{"event", "nope"}}));  // a queued message
    EXPECT_EQ(answer(view, "asked")["result"], Value(false));
    frame("https://__wvsb_bridge_loaded__");  // the script again: the page keeps its bridge
    frame("wvsbscheme://__WVSB_QUEUE_MESSAGE__/");
    frame("HTTPS://__wvsb_queue_message__/x");
    startCall(view, "again", "wvevent", Value::dict({{"event", "nope"}}));
    EXPECT_EQ(answer(view, "again")["result"], Value(false));
    frame("myapp://x/child.html");
    ASSERT_TRUE(testsupport::runMainLoopUntil([&] {
        return std::find(recorder->uris.begin(), recorder->uris.end(), "myapp://x/child.html") !=
               recorder->uris.end();
    }));
    for (const auto& uri : recorder->uris) {
        std::string lower = uri;
        for (char& c : lower) c = char(g_ascii_tolower(c));
        EXPECT_EQ(lower.find("__wvsb_"), std::string::npos) << uri;
    }
    window->window()->close();
}

TEST_F(WebWindowTest, AModalWindowCoversItsOpenerUntilItCloses) {
    RecordingDelegate delegate;
    auto main = openMain(delegate);
    OpenedWindows opened;
    ASSERT_NE(openChild(*main, opened, "child.html?modal=1"), nullptr);
    EXPECT_TRUE(main->window()->hasCover());
    EXPECT_EQ(main->window()->styleMask() & gtk::Closable, 0u);
    waitForValue(*main->webview(), "JSON.stringify(window.modal)", "\"[\\\"enter\\\"]\"");

    opened.all.front()->window()->performClose();
    EXPECT_FALSE(main->window()->hasCover());
    EXPECT_NE(main->window()->styleMask() & gtk::Closable, 0u);
    waitForValue(*main->webview(), "JSON.stringify(window.modal)",
                 "\"[\\\"enter\\\",\\\"leave\\\"]\"");
    main->window()->close();
}

TEST_F(WebWindowTest, DeviceNoticesFromOtherThreadsNeverWaitForTheMainThread) {
    RecordingDelegate delegate;
    auto main = openMain(delegate);
    auto& center = foundation::NotificationCenter::defaultCenter();
    auto notice = [&](int n) {
        center.post(
            kIDeviceNotification, nullptr,
            {{"device", foundation::Value::dict({{"n", n}})}, {"cmd", foundation::Value("added")}});
    };
    // The main thread is busy (not serving its loop) while another thread posts.
    auto returned = std::async(std::launch::async, [&] { notice(1); });
    EXPECT_EQ(returned.wait_for(std::chrono::seconds(10)), std::future_status::ready)
        << "the relay waited for the main thread";
    testsupport::runMainLoopUntil(
        [&] { return returned.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
    waitForValue(*main->webview(), "JSON.stringify(window.pushed)", "\"[{\\\"n\\\":1}]\"");

    // Closing the window while notices keep coming from another thread.
    std::atomic<bool> stop{false};
    std::thread flood([&] {
        for (int n = 2; !stop && n < 300; ++n) notice(n);
    });
    main->window()->close();
    stop = true;
    flood.join();
    testsupport::drainMainLoop();
}

}  // namespace
