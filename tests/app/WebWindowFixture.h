#pragma once

#include <gtest/gtest.h>

#include <cairo.h>
#include <webkit2/webkit2.h>

#include <atomic>
#include <cstdlib>

#include <mutex>
#include <string>

#include "content/SchemeFixtures.h"
#include "content/SchemeResponders.h"
#include "content/StaticFileResponse.h"
#include "platform/webkit/WebView.h"
#include "shell/plugins/PluginClassList.h"
#include "shell/windows/WVWindowController.h"
#include "support/MainLoop.h"

namespace apptest {

// The page script every test page shares: starts the bridge, records what native pushes,
// and offers `call(name, data)` that keeps the reply in window.replies[name].
inline const char* kPageScript = R"JS(
window.pushed = []; window.replies = {}; window.closedWindows = []; window.modal = [];
function call(name, data) {
  window.bridge.callHandler(name, data, function (r) { window.replies[name] = r; });
}
window.WVSBCallbacks = [function (bridge) {
  window.bridge = bridge;
  bridge.registerHandler('nativePush', function (data) { window.pushed.push(data); });
  bridge.registerHandler('wvWindowClosed', function (data) { window.closedWindows.push(data); });
  bridge.registerHandler('enterModalWindow', function () { window.modal.push('enter'); });
  bridge.registerHandler('leaveModalWindow', function () { window.modal.push('leave'); });
  bridge.callHandler('bridgeReady', {page: location.pathname});
}];
var f = document.createElement('iframe'); f.style.display = 'none';
f.src = 'https://__wvsb_bridge_loaded__'; document.documentElement.appendChild(f);
)JS";

inline std::string page(const std::string& extra = "") {
    return std::string("<!DOCTYPE html><title>test</title><script>") + kPageScript + extra +
           "</script>";
}

// With ORVANDEL_SCREENSHOT naming a PNG file, the view's visible part is written there.
inline void snapshotIfAsked(webkit::WebView& view) {
    const char* file = std::getenv("ORVANDEL_SCREENSHOT");
    if (!file) return;
    std::atomic<bool> done = false;
    struct Target {
        const char* file;
        std::atomic<bool>* done;
    } target{file, &done};
    webkit_web_view_get_snapshot(
        view.view(), WEBKIT_SNAPSHOT_REGION_VISIBLE, WEBKIT_SNAPSHOT_OPTIONS_NONE, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            auto* t = static_cast<Target*>(data);
            if (cairo_surface_t* surface =
                    webkit_web_view_get_snapshot_finish(WEBKIT_WEB_VIEW(source), result, nullptr)) {
                cairo_surface_write_to_png(surface, t->file);
                cairo_surface_destroy(surface);
            }
            *t->done = true;
        },
        &target);
    testsupport::runMainLoopUntil([&] { return done.load(); });
}

// A test pack of pages, the responders and plugin classes registered once per process.
class WebWindowTest : public testing::Test {
protected:
    void SetUp() override {
        static std::once_flag once;
        std::call_once(once, [] {
            content::registerSchemeResponders();
            PluginClassList{}.addToPluginBase();
        });
        ASSERT_TRUE(content::StaticFileResponse::initializeWithData(
            contenttest::makePack({
                contenttest::file("index.html", page()),
                contenttest::file("child.html", page()),
                contenttest::file("stay.html", page("window.addEventListener('beforeunload', "
                                                    "function (e) { e.preventDefault(); });")),
            }),
            "pelmor"));
    }

    // The value of a script as JSON text, waiting for it on the main loop.
    static std::string eval(webkit::WebView& view, const std::string& script) {
        std::optional<webkit::ScriptResult> result;
        view.evaluateJavascript(script, [&](webkit::ScriptResult r) { result = std::move(r); });
        EXPECT_TRUE(testsupport::runMainLoopUntil([&] { return result.has_value(); }));
        if (!result || !result->json)
            return "error: " + result.value_or(webkit::ScriptResult{}).error.value_or("");
        return *result->json;
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
