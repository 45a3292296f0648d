#include <gtest/gtest.h>

#include <chrono>

#include "FileDrop.h"
#include "LogCapture.h"
#include "WebWindowFixture.h"
#include "foundation/ScratchFolder.h"

using apptest::WebWindowTest;

namespace {

// A file of the person's, a page on the disk that reads it through "/fetch", and our page
// (in the pack), which keeps in window.drops whether each drop it saw was taken from WebKit
// before the page's own listener heard of it.
class DropScene {
public:
    DropScene() {
        foundationtest::writeText(secret, "the person's file");
        foundationtest::writeText(
            diskPage, apptest::page("fetch('/fetch?action=localfile&path=" + secret +
                                    "').then(r => r.text()).then(t => document.title = 'R:' + t);"));
        EXPECT_TRUE(content::StaticFileResponse::initializeWithData(
            contenttest::makePack({contenttest::file(
                "ours.html",
                apptest::page(
                    "window.drops = [];"
                    "window.addEventListener('drop', function (e) {"
                    " window.drops.push(e.defaultPrevented); });"))}),
            "pelmor"));
        controller = WVWindowController::createInstanceWithWindowRectStyleMaskWebconfig(
            {0, 0, 500, 400}, gtk::Titled | gtk::Closable | gtk::Resizable, nullptr);
        controller->showWindow();
        controller->loadURLString(ours);
        WebWindowTest::waitForValue(view(), "typeof window.bridge", "\"object\"");
    }
    ~DropScene() { controller->window()->close(); }

    webkit::WebView& view() { return *controller->webview(); }

    // Drops the link onto the view until the page has seen a drop: the window system may
    // lose a drag on a busy machine, and it is then tried again.
    bool drop(const std::string& link) {
        const int before = drops();
        for (int attempt = 0; attempt < 3; ++attempt) {
            apptest::FileDrop(link).onto(view().widget());
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (std::chrono::steady_clock::now() < until) {
                if (drops() > before) return true;
                apptest::FileDrop::pause(100);
            }
        }
        return false;
    }
    int drops() { return std::stoi(WebWindowTest::eval(view(), "window.drops.length")); }

    // The page is still ours, untouched, with the bridge and "/fetch" working: a read of its
    // own is answered, and by then a dropped script would have had its answer too.
    void expectOursUntouched() {
        webkit::WebView& v = view();
        WebWindowTest::eval(v, "window.own = null; fetch('/fetch?action=localfile&path=" + secret +
                                   "').then(r => r.text()).then(t => window.own = t); 0");
        WebWindowTest::waitForValue(v, "window.own", "\"the person's file\"");
        WebWindowTest::startCall(v, "event", "wvevent",
                                 foundation::Value::dict({{"event", "nope"},
                                                          {"data", foundation::Value::dict({{"cmd", "x"}})}}));
        EXPECT_FALSE(WebWindowTest::answer(v, "event")["error"].isNil());
        EXPECT_EQ(WebWindowTest::eval(v, "location.href"), "\"" + ours + "\"");
        EXPECT_EQ(v.committedURI(), ours);
        EXPECT_EQ(WebWindowTest::eval(v, "document.title"), "\"test\"");
    }

    foundationtest::ScratchFolder folder;
    const std::string secret = folder / "secret.txt";
    const std::string diskPage = folder / "page.html";
    const std::string ours = "myapp://x/ours.html";
    std::shared_ptr<WVWindowController> controller;
};

// Links dragged from another window onto our page: neither a script link (which WebKit
// would run in the page, past the navigation policy) nor a link to a "/fetch" answer that
// holds a page does anything; the page takes each drop from WebKit and stays as it was.
TEST_F(WebWindowTest, DroppedLinksNeitherRunNorOpenInOurPage) {
    DropScene scene;
    const std::string script = "javascript:fetch('/fetch?action=localfile&path=" + scene.secret +
                               "').then(r=>r.text()).then(t=>document.title='R:'+t)";
    const std::string fetchedPage = "myapp://x/fetch?action=localfile&path=" + scene.diskPage;
    for (const auto& link : {script, fetchedPage}) {
        ASSERT_TRUE(scene.drop(link)) << link;
        scene.expectOursUntouched();
    }
    // Every drop the page saw (a drag tried again may arrive twice) was taken from WebKit.
    EXPECT_EQ(eval(scene.view(), "window.drops.length >= 2 && window.drops.every(taken => taken)"),
              "true")
        << eval(scene.view(), "JSON.stringify(window.drops)");
    eval(scene.view(), "document.body.textContent = location.href + ' (' + document.title + '): "
                       "drops taken ' + JSON.stringify(window.drops); 0");
    screenshot(scene.view(), "dropped-links-refused");
}

// A file input takes a dropped link as WebKit would open it, so a script link dropped on one
// must be stopped as well.
TEST_F(WebWindowTest, ALinkDroppedOnAFileInputDoesNotRunInOurPage) {
    DropScene scene;
    eval(scene.view(), "var input = document.createElement('input'); input.type = 'file';"
                       "input.style.cssText = 'position:fixed;left:0;top:0;width:100%;height:100%';"
                       "document.body.appendChild(input); 0");
    ASSERT_TRUE(scene.drop("javascript:fetch('/fetch?action=localfile&path=" + scene.secret +
                           "').then(r=>r.text()).then(t=>document.title='R:'+t)"));
    scene.expectOursUntouched();
    EXPECT_EQ(eval(scene.view(), "window.drops.every(taken => taken)"), "true");
}

// However the main frame is sent to a "/fetch" answer that holds a page (by its own script,
// or by the application), the page shown stays ours and keeps its bridge and "/fetch".
TEST_F(WebWindowTest, AFetchAnswerNeverBecomesThePageShown) {
    DropScene scene;
    const std::string fetchedPage = "myapp://x/fetch?action=localfile&path=" + scene.diskPage;
    apptest::LogCapture log;
    eval(scene.view(), "location.href = '" + fetchedPage + "'; 0");
    EXPECT_TRUE(testsupport::runMainLoopUntil(
        [&] { return log.has("[WARN] Refused to leave our page for " + fetchedPage); }));
    scene.expectOursUntouched();

    scene.controller->loadURLString(fetchedPage);
    EXPECT_TRUE(testsupport::runMainLoopUntil(
        [&] { return log.has("[WARN] Refused to show " + fetchedPage + " as a page"); }));
    scene.expectOursUntouched();
}

}  // namespace
