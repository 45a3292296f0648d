#pragma once

#include <gtest/gtest.h>

#include <cairo.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <functional>
#include <thread>

#include "Snapshot.h"
#include "app/AppRegistrations.h"
#include "content/SchemeFixtures.h"
#include "content/SchemeResponders.h"
#include "content/StaticFileResponse.h"
#include "platform/webkit/WebView.h"
#include "foundation/Json.h"
#include "foundation/NotificationCenter.h"
#include "shell/ShellNotifications.h"
#include "shell/windows/WVWindowController.h"
#include "support/MainLoop.h"

namespace foundation {
// Values show as JSON in test failures.
inline void PrintTo(const Value& value, std::ostream* out) {
    *out << (value.isNil() ? std::string("nil") : json::write(value));
}
}  // namespace foundation

namespace apptest {

// The page script every test page shares: starts the bridge, records what native pushes,
// and offers `call(name, data)` that keeps the reply in window.replies[name].
inline const char* kPageScript = R"JS(
window.pushed = []; window.replies = {}; window.closedWindows = []; window.modal = [];
function call(name, data) {
  window.bridge.callHandler(name, data, function (r) { window.replies[name] = r; });
}
function callAs(key, name, data) {
  delete window.replies[key];
  window.bridge.callHandler(name, data, function (r) {
    window.replies[key] = r; window.answers = (window.answers || 0) + 1;
  });
}
window.WVSBCallbacks = [function (bridge) {
  window.bridge = bridge;
  bridge.registerHandler('nativePush', function (data) { window.pushed.push(data); });
  bridge.registerHandler('iDeviceAdded', function (data) { window.pushed.push(data); });
  bridge.registerHandler('wvWindowClosed', function (data) { window.closedWindows.push(data); });
  bridge.registerHandler('enterModalWindow', function () { window.modal.push('enter'); });
  bridge.registerHandler('leaveModalWindow', function () { window.modal.push('leave'); });
  bridge.callHandler('bridgeReady', {page: location.pathname});
}];
var f = document.createElement('iframe'); f.style.display = 'none';
f.src = 'https://__wvsb_bridge_loaded__'; document.documentElement.appendChild(f);
)JS";

// Elements at known places: a resizer handle at the top left, a bare paragraph below it.
inline const char* kHitPage =
    "<style>body{margin:0} div,p{position:absolute;margin:0;left:0;width:200px}</style>"
    "<div id='grip' class='w2ui-resizer' style='top:0;height:40px'></div>"
    "<p style='top:60px;height:40px'>bare</p>";

inline std::string page(const std::string& extra = "") {
    return std::string("<!DOCTYPE html><title>test</title><script>") + kPageScript + extra +
           "</script>";
}

// Keeps, from the very start of every later page of the view, what the page's App hears of
// the named pushes, as "name" or "name JSON-of-data", in window.heardPushes.
inline void recordPushes(webkit::WebView& view, const std::vector<std::string>& names) {
    std::string list;
    for (const auto& name : names) list += (list.empty() ? "'" : ", '") + name + "'";
    view.addUserScript(
        "(function () { window.heardPushes = [];"
        " Object.defineProperty(window, 'App', { configurable: true, set: function (app) {"
        "  Object.defineProperty(window, 'App', { value: app, writable: true, configurable: true });"
        "  [" + list + "].forEach(function (n) { app.on(n, function (d) {"
        "   window.heardPushes.push(n + (d === undefined ? '' : ' ' + JSON.stringify(d))); }); });"
        " } }); })();");
}

// Web windows the page opens, as their pages report ready.
class OpenedWindows {
public:
    OpenedWindows() {
        observer_ = foundation::NotificationCenter::defaultCenter().addObserver(
            kWebviewWindowControllerCreated, nullptr, [this](const foundation::Notification& n) {
                auto* controller = const_cast<WVWindowController*>(
                    static_cast<const WVWindowController*>(n.object));
                if (std::find(all.begin(), all.end(), controller) == all.end())
                    all.push_back(controller);
            });
    }
    ~OpenedWindows() { foundation::NotificationCenter::defaultCenter().removeObserver(observer_); }
    std::vector<WVWindowController*> all;

private:
    foundation::NotificationCenter::ObserverId observer_;
};

// A test pack of pages, the responders and plugin classes registered once per process.
class WebWindowTest : public testing::Test {
protected:
    void SetUp() override {
        static std::once_flag once;
        std::call_once(once, [] {
            registerApplicationClasses();  // as the process entry does
        });
        ASSERT_TRUE(content::StaticFileResponse::initializeWithData(
            contenttest::makePack({
                contenttest::file("index.html", page()),
                contenttest::file("child.html", page()),
                contenttest::file("stay.html", page("window.addEventListener('beforeunload', "
                                                    "function (e) { e.preventDefault(); });")),
                contenttest::file("hit.html", std::string(kHitPage) + page()),
            }),
            "pelmor"));
    }

public:
    // The value of a script as JSON text, waiting for it on the main loop.
    // The answer is kept by the callback itself: one that comes after the wait gave up
    // finds it still there.
    static std::string eval(webkit::WebView& view, const std::string& script,
                            std::chrono::seconds wait = std::chrono::seconds(30)) {
        auto result = std::make_shared<std::optional<webkit::ScriptResult>>();
        view.evaluateJavascript(script,
                                [result](webkit::ScriptResult r) { *result = std::move(r); });
        EXPECT_TRUE(testsupport::runMainLoopUntil([&] { return result->has_value(); }, wait));
        if (!*result || !(*result)->json)
            return "error: " + result->value_or(webkit::ScriptResult{}).error.value_or("");
        return *(*result)->json;
    }

    // With ORVANDEL_SCREENSHOTS naming a folder, the whole page as the browser view draws it
    // goes into <folder>/<name>.png, for a person to look at.
    static void screenshot(webkit::WebView& view, const std::string& name) {
        const char* folder = std::getenv("ORVANDEL_SCREENSHOTS");
        if (!folder) return;
        struct Shot {
            std::string path;
            bool done = false;
        } shot{std::string(folder) + "/" + name + ".png"};
        webkit_web_view_get_snapshot(
            view.view(), WEBKIT_SNAPSHOT_REGION_FULL_DOCUMENT, WEBKIT_SNAPSHOT_OPTIONS_NONE,
            nullptr,
            [](GObject* source, GAsyncResult* result, gpointer data) {
                auto* shot = static_cast<Shot*>(data);
                if (cairo_surface_t* surface = webkit_web_view_get_snapshot_finish(
                        WEBKIT_WEB_VIEW(source), result, nullptr)) {
                    cairo_surface_write_to_png(surface, shot->path.c_str());
                    cairo_surface_destroy(surface);
                }
                shot->done = true;
            },
            &shot);
        EXPECT_TRUE(testsupport::runMainLoopUntil([&] { return shot.done; }));
    }

    // A window on the test page, its bridge up.
    static std::shared_ptr<WVWindowController> openWindow(gtk::Rect rect = {0, 0, 500, 400}) {
        auto controller = WVWindowController::createInstanceWithWindowRectStyleMaskWebconfig(
            rect, gtk::Titled | gtk::Closable | gtk::Resizable, nullptr);
        controller->loadURLString("myapp://x/index.html");
        controller->showWindow();
        waitForValue(*controller->webview(), "typeof window.bridge", "\"object\"");
        return controller;
    }

    // Starts a page call whose answer is kept under `key`.
    static void startCall(webkit::WebView& view, const std::string& key,
                          const std::string& handler, const foundation::Value& data) {
        eval(view, "callAs('" + key + "', '" + handler + "', " + foundation::json::write(data) +
                       "); 0");
    }

    // The answer kept under `key`, waiting for it; nil when none came.
    static foundation::Value answer(webkit::WebView& view, const std::string& key) {
        const std::string held = "'" + key + "' in window.replies";
        if (!testsupport::runMainLoopUntil([&] { return eval(view, held) == "true"; },
                                           std::chrono::seconds(20))) {
            ADD_FAILURE() << "no answer for " << key;
            return {};
        }
        return foundation::json::read(eval(view, "window.replies['" + key + "']"))
            .value_or(foundation::Value());
    }

    // Runs the work on a thread of its own while the main loop runs, as the device layer
    // reports from its threads: a push from there waits for the main loop to take it.
    static void onOtherThread(const std::function<void()>& work) {
        std::atomic<bool> done = false;
        std::thread thread([&] {
            work();
            done = true;
        });
        EXPECT_TRUE(testsupport::runMainLoopUntil([&] { return done.load(); }));
        thread.join();
    }

    // Waits until the script's JSON value equals the expected text.
    static bool waitForValue(webkit::WebView& view, const std::string& script,
                             const std::string& expected) {
        std::string last;
        const bool reached = testsupport::runMainLoopUntil(
            [&] { return (last = eval(view, script)) == expected; }, std::chrono::seconds(20));
        if (!reached) ADD_FAILURE() << script << " gave " << last << ", not " << expected;
        return reached;
    }
};

}  // namespace apptest
