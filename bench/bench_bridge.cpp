// Bridge round trips through the headless pair (a native request answered by a page
// handler, the page script running in JavaScriptCore) beside the bare JSON work of the
// same messages: encoding and decoding the request and the page's reply.

#include <glib.h>

#include "BaselineReport.h"
#include "foundation/Json.h"
#include "foundation/MainQueue.h"
#include "support/headlesspage/HeadlessFront.h"

using foundation::Value;

namespace {

// A directory listing of the size the page typically asks for.
Value samplePayload() {
    Value items = foundation::Array{};
    for (int i = 0; i < 10; ++i) {
        items.append(Value::dict({{"name", "IMG_00" + std::to_string(i) + ".JPG"},
                                  {"isdir", false},
                                  {"size", 1048576 + i},
                                  {"mtime", 1700000000.5 + i}}));
    }
    return Value::dict(
        {{"result", true}, {"data", Value::dict({{"path", "/DCIM/100APPLE"}, {"items", items}})}});
}

void spinUntil(const std::function<bool()>& done) {
    while (!done()) g_main_context_iteration(g_main_context_default(), TRUE);
}

void BM_BridgeRoundTrip(benchmark::State& state) {
    auto front = testsupport::HeadlessFront::open();
    front->startPage(
        "function(bridge) { window.ready = true;"
        " bridge.registerHandler('echo', function(data, reply) { reply(data); }); }");
    spinUntil([&] { return front->page().evaluate("window.ready === true") == "true"; });
    const Value payload = samplePayload();
    for (auto _ : state) {
        bool answered = false;
        front->callHandler("echo", payload, [&](const Value& reply) {
            answered = true;
            benchmark::DoNotOptimize(reply);
        });
        spinUntil([&] { return answered; });
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_JsonEncodeDecode(benchmark::State& state) {
    const Value payload = samplePayload();
    const Value request =
        Value::dict({{"handlerName", "echo"}, {"data", payload}, {"callbackId", "native_cb_1"}});
    const Value reply = Value::list({Value::dict(
        {{"handlerName", "echo"}, {"responseId", "native_cb_1"}, {"responseData", payload}})});
    for (auto _ : state) {
        auto requestBack = foundation::json::read(foundation::json::write(request));
        auto replyBack = foundation::json::read(foundation::json::write(reply));
        benchmark::DoNotOptimize(requestBack);
        benchmark::DoNotOptimize(replyBack);
    }
    state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(BM_BridgeRoundTrip)->UseRealTime();
BENCHMARK(BM_JsonEncodeDecode);

int main(int argc, char** argv) {
    foundation::MainQueue::bindToCurrentThread();
    return bench::runWithBaselines(argc, argv,
                                   {{"BM_BridgeRoundTrip/real_time", "BM_JsonEncodeDecode"}});
}
