// Bridge round trips through the real browser view (a native request to a page handler
// and the page's reply back, over the signalling navigations and queue fetches) beside
// plain script evaluations that carry the same JSON there and back. Needs a display:
//   xvfb-run -a build/bench/bench_webview_bridge

#include <glib.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "BaselineReport.h"
#include "SpinMainLoop.h"
#include "content/SchemeResponders.h"
#include "content/StaticFileResponse.h"
#include "foundation/AtomicFile.h"
#include "foundation/Json.h"
#include "foundation/MainQueue.h"
#include "pack/ResourcePackWriter.h"
#include "platform/gtk/Application.h"
#include "platform/gtk/Window.h"
#include "platform/webkit/WebView.h"
#include "shell/bridge/WKWebViewScriptBridge.h"
#include "shell/windows/WVWindowController.h"

using foundation::Value;

namespace {

constexpr const char* kPackPassword = "pelmor";

// Starts the bridge the way the start page does and answers "echo" with what it got.
constexpr const char* kIndexHtml = R"(<!doctype html><title>bench</title><script>
window.WVSBCallbacks = [function (bridge) {
    bridge.registerHandler('echo', function (data, reply) { reply(data); });
    bridge.callHandler('bridgeReady', {});
}];
var frame = document.createElement('iframe');
frame.style.display = 'none';
frame.src = 'https://__wvsb_bridge_loaded__';
document.documentElement.appendChild(frame);
setTimeout(function () { document.documentElement.removeChild(frame); }, 0);
</script>)";

// A dictionary of twenty short strings, about the size of a typical page request.
Value samplePayload() {
    Value payload = foundation::Dictionary{};
    for (int i = 0; i < 20; ++i) {
        const std::string n = (i < 10 ? "0" : "") + std::to_string(i);
        payload.set("key" + n, Value("value " + n));
    }
    return payload;
}

// The script that carries the payload into the page and hands it back.
std::string echoScript() {
    return "(function (data) { return data; })(" + foundation::json::write(samplePayload()) + ")";
}

using bench::spinUntil;

bool loadBenchPack() {
    auto key = foundation::readFile(ORVANDEL_PACK_PRIVATE_KEY);
    if (!key) {
        std::fprintf(stderr, "no pack key at %s\n", ORVANDEL_PACK_PRIVATE_KEY);
        return false;
    }
    const std::string html = kIndexHtml;
    const auto pack =
        packtool::writeResourcePack({{"index.html", foundation::Data(html.begin(), html.end())}},
                                    kPackPassword, std::string(key->begin(), key->end()));
    return content::StaticFileResponse::initializeWithData(pack, kPackPassword);
}

// One shown window with a browser view on the shared context, its bridge front, and the
// page from the pack loaded with the bridge started.
class BridgePage {
public:
    bool open() {
        window_ = std::make_unique<gtk::Window>(gtk::Rect{0, 0, 400, 300},
                                                gtk::Titled | gtk::Closable | gtk::Resizable);
        view_ = std::make_shared<webkit::WebView>(
            webkit::WebView::Options{.context = WVWindowController::sharedContext()});
        window_->setContent(view_->widget());
        window_->show();
        bridge_ = WKWebViewScriptBridge::bridgeForWebView(view_);
        bool ready = false;
        bridge_->registerHandler(
            "bridgeReady", [&ready](const Value&, WVBridgeResponseCallback) { ready = true; });
        view_->loadURI("myapp://x/");
        if (!spinUntil([&] { return ready; }, 30)) return false;
        bridge_->removeHandler("bridgeReady");
        return true;
    }

    ~BridgePage() {
        bridge_.reset();
        view_.reset();
        if (window_) window_->close();
    }

    WKWebViewScriptBridge& bridge() { return *bridge_; }
    webkit::WebView& view() { return *view_; }

private:
    std::unique_ptr<gtk::Window> window_;
    std::shared_ptr<webkit::WebView> view_;
    std::shared_ptr<WKWebViewScriptBridge> bridge_;
};

void BM_BridgeEchoRoundTrip(benchmark::State& state, BridgePage* page) {
    const Value payload = samplePayload();
    for (auto _ : state) {
        bool answered = false;
        page->bridge().callHandler("echo", payload, [&](const Value& reply) {
            answered = true;
            benchmark::DoNotOptimize(reply);
        });
        if (!spinUntil([&] { return answered; })) {
            state.SkipWithError("the page did not answer");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_EvaluateJavascriptRoundTrip(benchmark::State& state, BridgePage* page) {
    const std::string script = echoScript();
    for (auto _ : state) {
        bool finished = false;
        page->view().evaluateJavascript(script, [&](webkit::ScriptResult result) {
            finished = true;
            benchmark::DoNotOptimize(result);
        });
        if (!spinUntil([&] { return finished; })) {
            state.SkipWithError("the script did not finish");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

// One trip each way before measuring, so a page that answers wrongly is caught rather
// than timed: both must bring the payload back unchanged.
bool bothEchoPayload(BridgePage& page) {
    const Value payload = samplePayload();
    std::optional<Value> reply;
    page.bridge().callHandler("echo", payload, [&](const Value& value) { reply = value; });
    if (!spinUntil([&] { return reply.has_value(); }) || *reply != payload) return false;
    std::optional<webkit::ScriptResult> evaluated;
    page.view().evaluateJavascript(echoScript(),
                                   [&](webkit::ScriptResult result) { evaluated = result; });
    if (!spinUntil([&] { return evaluated.has_value(); }) || !evaluated->json) return false;
    return foundation::json::read(*evaluated->json) == payload;
}

}  // namespace

int main(int argc, char** argv) {
    if (!gtk::Application::initialize(argc, argv)) {
        std::fprintf(stderr, "no display: run under xvfb-run -a\n");
        return 1;
    }
    foundation::MainQueue::bindToCurrentThread();
    content::registerSchemeResponders();
    if (!loadBenchPack()) {
        std::fprintf(stderr, "the benchmark page could not be packed or loaded\n");
        return 1;
    }
    // Wakes the loop now and then, so that a wait whose answer never comes sees its limit.
    const guint heartbeat = g_timeout_add_seconds(
        1, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    int status = 1;
    {
        BridgePage page;
        if (!page.open()) {
            std::fprintf(stderr, "the page did not start its bridge\n");
        } else if (!bothEchoPayload(page)) {
            std::fprintf(stderr, "a round trip did not bring the payload back\n");
        } else {
            benchmark::RegisterBenchmark("BM_BridgeEchoRoundTrip", BM_BridgeEchoRoundTrip, &page)
                ->UseRealTime();
            benchmark::RegisterBenchmark("BM_EvaluateJavascriptRoundTrip",
                                         BM_EvaluateJavascriptRoundTrip, &page)
                ->UseRealTime();
            status = bench::runWithBaselines(
                argc, argv,
                {{"BM_BridgeEchoRoundTrip/real_time", "BM_EvaluateJavascriptRoundTrip/real_time"}});
        }
    }
    g_source_remove(heartbeat);
    return status;
}
