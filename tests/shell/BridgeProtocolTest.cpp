#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "BridgePairFixture.h"
#include "foundation/Json.h"
#include "foundation/Url.h"
#include "shell/bridge/WebViewScriptBridgeBase.h"
#include "support/MainLoop.h"

using foundation::Value;

namespace {

std::string jsString(const std::string& text) {
    return foundation::json::write(Value(text));
}

int countOf(const std::string& haystack, const std::string& needle) {
    int count = 0;
    for (auto at = haystack.find(needle); at != std::string::npos;
         at = haystack.find(needle, at + 1))
        ++count;
    return count;
}

}  // namespace

TEST_F(BridgePairTest, NativeMessagesSentBeforeInjectionArriveInOrderAfterIt) {
    std::vector<Value> replies;
    front->callHandler("collect", "one", [&](const Value& v) { replies.push_back(v); });
    front->callHandler("collect", "two");
    front->callHandler("collect", "three", [&](const Value& v) { replies.push_back(v); });

    ASSERT_TRUE(front->base().startupMessageQueue().has_value());
    EXPECT_EQ(front->base().startupMessageQueue()->size(), 3u);
    EXPECT_EQ(front->base().responseCallbackIds(),
              (std::vector<std::string>{"native_cb_1", "native_cb_2"}));
    EXPECT_EQ(page("typeof window.WebViewScriptBridge"), "undefined");

    startPage(R"(
        window.seen = [];
        bridge.registerHandler('collect', function(data, reply) {
            window.seen.push(data + (reply ? '+reply' : ''));
            if (reply) reply(data + '!');
        });)");
    ASSERT_TRUE(waitForPage("window.seen.length == 3"));
    EXPECT_EQ(page("window.seen.join(',')"), "one+reply,two,three+reply");
    ASSERT_TRUE(testsupport::runMainLoopUntil([&] { return replies.size() == 2; }));
    EXPECT_EQ(replies, (std::vector<Value>{"one!", "three!"}));
    EXPECT_FALSE(front->base().startupMessageQueue().has_value());
    EXPECT_TRUE(front->base().responseCallbackIds().empty());

    // After injection messages go out at once.
    front->callHandler("collect", "four");
    ASSERT_TRUE(waitForPage("window.seen.length == 4"));
}

TEST_F(BridgePairTest, TextCrossesBothWaysUnchanged) {
    const std::vector<std::string> texts = {
        "it's",
        "back\\slash \\n \\' \\\\",
        "line\nbreak\r\nand\ttab\fform feed",
        "separators \u2028 and \u2029 inside",
        "quotes \" and ' and `",
        "</script><script>alert(1)</script>",
        "emoji \U0001F600 and nul-free unicode \u00e9\u4e2d",
        "",
    };
    std::vector<Value> echoed;
    front->registerHandler("echoed", [&](const Value& data, auto) { echoed.push_back(data); });
    startPage(R"(
        window.got = [];
        bridge.registerHandler('echo', function(data) {
            window.got.push(data);
            bridge.callHandler('echoed', data);
        });)");
    for (const auto& text : texts) front->callHandler("echo", text);
    ASSERT_TRUE(waitForPage("window.got.length == " + std::to_string(texts.size())));
    for (std::size_t i = 0; i < texts.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(page("window.got[" + std::to_string(i) + "] === " + jsString(texts[i])), "true");
    }
    ASSERT_TRUE(testsupport::runMainLoopUntil([&] { return echoed.size() == texts.size(); }));
    for (std::size_t i = 0; i < texts.size(); ++i) EXPECT_EQ(echoed[i], Value(texts[i]));
}

TEST_F(BridgePairTest, PageRequestWithoutCallbackReachesHandlerAndItsReplyGoesNowhere) {
    std::vector<Value> received;
    front->registerHandler("note", [&](const Value& data, WVBridgeResponseCallback reply) {
        received.push_back(data);
        ASSERT_TRUE(reply);
        reply("ignored");
    });
    startPage();
    page("bridge.callHandler('note', {a: 1}); bridge.callHandler('note');");
    ASSERT_TRUE(testsupport::runMainLoopUntil([&] { return received.size() == 2; }));
    EXPECT_EQ(received[0], Value::dict({{"a", 1}}));
    EXPECT_TRUE(received[1].isNil());
    testsupport::drainMainLoop();
    EXPECT_TRUE(front->page().consoleLines().empty());
}

TEST_F(BridgePairTest, UnknownHandlerWritesOneConsoleLineAndNoReply) {
    bool after = false;
    front->registerHandler("after", [&](const Value&, auto) { after = true; });
    startPage("window.replied = false;");
    testing::internal::CaptureStderr();
    page(R"(bridge.callHandler('missing', 1, function() { window.replied = true; });
            bridge.callHandler('after');)");
    const bool served = testsupport::runMainLoopUntil([&] { return after; });
    testsupport::drainMainLoop();
    const std::string console = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(served);
    EXPECT_EQ(countOf(console, "WVSBNoHandlerException, No handler for message from JS: "), 1)
        << console;
    EXPECT_NE(console.find("\"handlerName\":\"missing\""), std::string::npos) << console;
    EXPECT_EQ(page("window.replied"), "false");
}

TEST_F(BridgePairTest, MessagesQueuedTogetherAreServedInOneFlushInOrder) {
    std::vector<std::pair<Value, std::string>> calls;
    front->registerHandler("order", [&](const Value& data, auto) {
        calls.emplace_back(data, std::to_string(front->fetchCount()));
    });
    startPage();
    page(
        "bridge.callHandler('order', 1); bridge.callHandler('order', 2);"
        "bridge.callHandler('order', 3);");
    ASSERT_TRUE(testsupport::runMainLoopUntil([&] { return calls.size() == 3; }));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(calls[i].first, Value(i + 1));
        EXPECT_EQ(calls[i].second, calls[0].second) << "served in another flush";
    }
}

TEST_F(BridgePairTest, NilReplyArrivesAsNullAndValuesKeepTheirKind) {
    front->registerHandler("answer", [](const Value& data, WVBridgeResponseCallback reply) {
        if (data == Value("nil")) return reply(Value());
        reply(Value::dict({{"n", 1.5}, {"b", true}, {"list", Value::list({1, "x"})}}));
    });
    startPage(R"(window.answers = {};)");
    page(R"(bridge.callHandler('answer', 'nil', function(r) { answers.nil = r; });
            bridge.callHandler('answer', 'full', function(r) { answers.full = r; });)");
    ASSERT_TRUE(waitForPage("'nil' in answers && 'full' in answers"));
    EXPECT_EQ(page("answers.nil === null"), "true");
    EXPECT_EQ(page("JSON.stringify(answers.full)"), R"({"b":true,"list":[1,"x"],"n":1.5})");
}

TEST_F(BridgePairTest, EveryPageHandlerOfANameIsCalled) {
    startPage(R"(
        window.calls = [];
        var first = function(d) { calls.push('first ' + d); };
        bridge.registerHandler('twice', first);
        bridge.registerHandler('twice', function(d) { calls.push('second ' + d); });
        window.removeFirst = function() { bridge.removeHandler('twice', first); };)");
    front->callHandler("twice", 7);
    ASSERT_TRUE(waitForPage("calls.length == 2"));
    EXPECT_EQ(page("calls.join()"), "first 7,second 7");

    page("removeFirst()");
    front->callHandler("twice", 8);
    ASSERT_TRUE(waitForPage("calls.length == 3"));
    EXPECT_EQ(page("calls[2]"), "second 8");
}

TEST_F(BridgePairTest, RepliesFromManyThreadsArriveExactlyOnce) {
    constexpr int kThreads = 8;
    constexpr int kPerThread = 1000;
    constexpr int kTotal = kThreads * kPerThread;
    std::vector<std::pair<int, WVBridgeResponseCallback>> pending;
    front->registerHandler("work", [&](const Value& data, WVBridgeResponseCallback reply) {
        pending.emplace_back(static_cast<int>(*data.toInt64()), std::move(reply));
    });
    startPage(R"(window.counts = {}; window.total = 0;)");
    page("for (var i = 0; i < " + std::to_string(kTotal) +
         "; i++) bridge.callHandler('work', i, function(r) {"
         " counts[r] = (counts[r] || 0) + 1; total++; });");
    ASSERT_TRUE(testsupport::runMainLoopUntil([&] { return pending.size() == kTotal; }));

    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&pending, t] {
            for (int i = t * kPerThread; i < (t + 1) * kPerThread; ++i)
                pending[i].second(pending[i].first);
        });
    }
    const bool all = waitForPage("total >= " + std::to_string(kTotal));
    for (auto& thread : threads) thread.join();
    ASSERT_TRUE(all);
    testsupport::drainMainLoop();
    EXPECT_EQ(page("total"), std::to_string(kTotal));
    EXPECT_EQ(page("Object.keys(counts).length"), std::to_string(kTotal));
    EXPECT_EQ(page("Object.keys(counts).every(function(k) { return counts[k] === 1; })"), "true");
}

TEST_F(BridgePairTest, NativeRequestsFromOtherThreadsAreAnswered) {
    startPage("bridge.registerHandler('double', function(d, reply) { reply(d * 2); });");
    std::atomic<int> answered{0};
    std::atomic<long> sum{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i)
                front->callHandler("double", t * 100 + i, [&](const Value& v) {
                    sum += static_cast<long>(*v.toInt64());
                    ++answered;
                });
        });
    }
    const bool all = testsupport::runMainLoopUntil([&] { return answered == 200; });
    for (auto& thread : threads) thread.join();
    ASSERT_TRUE(all);
    long expected = 0;
    for (int t = 0; t < 4; ++t)
        for (int i = 0; i < 50; ++i) expected += 2 * (t * 100 + i);
    EXPECT_EQ(sum.load(), expected);
}

TEST_F(BridgePairTest, ResetKeepsHandlersAndRestartsIds) {
    front->registerHandler("kept", [](const Value&, auto) {});
    front->callHandler("anything", 1, [](const Value&) {});
    front->callHandler("anything", 2, [](const Value&) {});
    front->reset();
    EXPECT_TRUE(front->base().responseCallbackIds().empty());
    EXPECT_EQ(front->base().messageHandlerNames(), (std::vector<std::string>{"kept"}));
    ASSERT_TRUE(front->base().startupMessageQueue().has_value());
    EXPECT_TRUE(front->base().startupMessageQueue()->empty());
    front->callHandler("anything", 3, [](const Value&) {});
    EXPECT_EQ(front->base().responseCallbackIds(), (std::vector<std::string>{"native_cb_1"}));
}

TEST_F(BridgePairTest, ReplacedHandlerIsNoLongerCalled) {
    std::vector<std::string> calls;
    front->registerHandler("h", [&](const Value&, auto) { calls.push_back("old"); });
    front->registerHandler("h", [&](const Value&, auto) { calls.push_back("new"); });
    startPage();
    page("bridge.callHandler('h')");
    ASSERT_TRUE(testsupport::runMainLoopUntil([&] { return !calls.empty(); }));
    testsupport::drainMainLoop();
    EXPECT_EQ(calls, (std::vector<std::string>{"new"}));
}

TEST(WebViewScriptBridgeBaseTest, RecognisesOnlyTheSignallingUrls) {
    struct Case {
        const char* url;
        bool bridge, queue, loaded;
    };
    const Case cases[] = {
        {"https://__wvsb_queue_message__", true, true, false},
        {"https://__wvsb_queue_message__/", true, true, false},
        {"HTTPS://__WVSB_QUEUE_MESSAGE__", true, true, false},
        {"wvsbscheme://__wvsb_bridge_loaded__", true, false, true},
        {"https://__wvsb_bridge_loaded__?x=1", true, false, true},
        {"http://__wvsb_queue_message__", false, false, false},
        {"https://__wvsb_queue_message__x", false, false, false},
        {"https://example.com/__wvsb_queue_message__", false, false, false},
        {"myapp://x/", false, false, false},
    };
    auto core = WebViewScriptBridgeBase::create();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        auto url = foundation::Url::parse(c.url);
        ASSERT_TRUE(url);
        EXPECT_EQ(core->isWebViewScriptBridgeURL(*url), c.bridge);
        EXPECT_EQ(core->isQueueMessageURL(*url), c.queue);
        EXPECT_EQ(core->isBridgeLoadedURL(*url), c.loaded);
    }
}

TEST(WebViewScriptBridgeBaseTest, FlushSkipsWhatIsNotAMessage) {
    auto core = WebViewScriptBridgeBase::create();
    std::vector<Value> seen;
    core->registerHandler("h", [&](const Value& data, auto) { seen.push_back(data); });
    struct Case {
        std::optional<std::string> queue;
        std::vector<Value> served;
        const char* console;
    };
    const Case cases[] = {
        {std::nullopt, {}, "the native side got nil while fetching"},
        {"", {}, "the native side got nil while fetching"},
        {"not json", {}, "WebViewScriptBridge: WARNING: Invalid "},
        {R"([1, {"handlerName":"h","data":"a"}, "x", {"handlerName":"h","data":"b"}])",
         {"a", "b"},
         "WebViewScriptBridge: WARNING: Invalid "},
        {R"([{"responseId":"native_cb_9","responseData":1}, {"handlerName":"h"}])", {Value()}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.queue.value_or("(none)"));
        seen.clear();
        testing::internal::CaptureStderr();
        core->flushMessageQueue(c.queue);
        const std::string console = testing::internal::GetCapturedStderr();
        EXPECT_EQ(seen, c.served);
        if (*c.console) {
            EXPECT_NE(console.find(c.console), std::string::npos) << console;
        } else {
            EXPECT_EQ(console, "");
        }
    }
}

TEST(WebViewScriptBridgeBaseTest, AThrowingHandlerDoesNotStopTheQueue) {
    auto core = WebViewScriptBridgeBase::create();
    std::vector<Value> seen;
    core->registerHandler("boom", [](const Value&, auto) { throw std::runtime_error("bad"); });
    core->registerHandler("h", [&](const Value& data, auto) { seen.push_back(data); });
    core->flushMessageQueue(R"([{"handlerName":"boom"},{"handlerName":"h","data":2}])");
    EXPECT_EQ(seen, (std::vector<Value>{2}));
}

TEST_F(BridgePairTest, AHandlerMayRunANestedLoopThatServesMoreMessages) {
    bool innerCalled = false;
    front->registerHandler("inner", [&](const Value&, auto) { innerCalled = true; });
    front->registerHandler("outer", [&](const Value&, WVBridgeResponseCallback reply) {
        // Touches the handler table and serves later page messages before answering.
        front->registerHandler("late", [](const Value&, auto) {});
        page("bridge.callHandler('inner', 1);");
        testsupport::runMainLoopUntil([&] { return innerCalled; });
        reply("outer done");
    });
    startPage();
    page("bridge.callHandler('outer', null, function(r) { window.outer = r; });");
    ASSERT_TRUE(waitForPage("window.outer == 'outer done'"));
    EXPECT_TRUE(innerCalled);
}

TEST_F(BridgePairTest, WithoutTheSafetyTimeoutMessagesAreHandledDuringTheEvaluation) {
    startPage("bridge.registerHandler('now', function(d) { window.got = d; });");
    front->callHandler("now", 1);
    EXPECT_EQ(page("window.got"), "undefined") << "delivered in a zero-delay timer";
    ASSERT_TRUE(waitForPage("window.got == 1"));

    front->disableJavscriptAlertBoxSafetyTimeout();
    testsupport::drainMainLoop();
    front->callHandler("now", 2);
    EXPECT_EQ(page("window.got"), "2");
}

TEST(WebViewScriptBridgeBaseTest, NativeRequestsCarryOnlyWhatWasGiven) {
    auto core = WebViewScriptBridgeBase::create();
    core->sendData(Value(), nullptr, std::string("bare"));
    core->sendData(
        Value::null(), [](const Value&) {}, std::string("full"));
    core->sendData("no name", nullptr, std::nullopt);
    EXPECT_EQ(
        *core->startupMessageQueue(),
        (std::vector<Value>{
            Value::dict({{"handlerName", "bare"}}),
            Value::dict(
                {{"handlerName", "full"}, {"data", Value::null()}, {"callbackId", "native_cb_1"}}),
            Value::dict({{"data", "no name"}}),
        }));
}

TEST_F(BridgePairTest, PageWarnsAboutMessagesItCannotServe) {
    startPage("window.messageHandlers.broken = 'not a list';");
    page("bridge.removeHandler('x');");
    front->callHandler("nobody", 1);
    front->callHandler("broken", 2);
    ASSERT_TRUE(
        testsupport::runMainLoopUntil([&] { return front->page().consoleLines().size() == 3; }));
    const auto lines = front->page().consoleLines();
    EXPECT_EQ(lines[0], "WebViewBridge: WARNING: handler is undefined.");
    EXPECT_EQ(lines[1].rfind("WebViewScriptBridge: WARNING: no handler for message from native: "
                             "{\"data\":1,\"handlerName\":\"nobody\"}",
                             0),
              0u)
        << lines[1];
    EXPECT_EQ(lines[2].rfind("WebViewScriptBridge: WARNING: invalid handlers from Objc:", 0), 0u)
        << lines[2];
}

// The core's tables replaced as a whole: no startup queue sends at once, a handler table
// set from outside serves the page, and a callback table set from outside takes replies.
TEST_F(BridgePairTest, TablesSetAsAWholeTakeEffect) {
    auto& base = front->base();
    startPage("window.seen = []; bridge.registerHandler('collect', function (d, reply) {"
              " window.seen.push(d); if (reply) reply(d + '!'); });");

    base.setStartupMessageQueue(std::vector<Value>{});
    front->callHandler("collect", "held");
    ASSERT_EQ(base.startupMessageQueue()->size(), 1u);
    base.setStartupMessageQueue(std::nullopt);
    front->callHandler("collect", "now");
    ASSERT_TRUE(waitForPage("window.seen.join() == 'now'"));

    std::vector<Value> replies;
    front->callHandler("collect", "asked", [&](const Value& v) { replies.push_back(v); });
    auto callbacks = base.responseCallbacks();
    ASSERT_EQ(callbacks.size(), 1u);
    base.setResponseCallbacks({});
    ASSERT_TRUE(waitForPage("window.seen.length == 2"));
    testsupport::drainMainLoop();
    EXPECT_TRUE(replies.empty());  // nobody waits for that reply any more

    base.setResponseCallbacks(std::move(callbacks));
    base.setMessageHandlers(
        {{"echo", [](const Value& data, const WVBridgeResponseCallback& reply) { reply(data); }}});
    EXPECT_EQ(base.messageHandlerNames(), (std::vector<std::string>{"echo"}));
    EXPECT_EQ(ask("echo", "back"), Value("back"));
    EXPECT_EQ(base.messageHandlers().count("echo"), 1u);
}

namespace {

// Sends messages of several lengths with the message log on, and ends the process with 0
// when the console got exactly the lines expected (what it got goes to standard error).
[[noreturn]] void logMessagesOfSeveralLengths() {
    WebViewScriptBridgeBase::enableLogging();
    auto core = WebViewScriptBridgeBase::create();
    core->injectJavascriptFile();  // no front: nothing is evaluated, every message is sent
    testing::internal::CaptureStderr();
    // {"data":"…"}: 9 characters before the text and 2 after it.
    core->sendData(std::string(600, 'x'), nullptr, std::nullopt);
    core->sendData(std::string(489, 'y'), nullptr, std::nullopt);  // 500 characters
    core->sendData(std::string(490, 'z'), nullptr, std::nullopt);  // 501
    std::string accents;
    for (int i = 0; i < 489; ++i) accents += "\u00e9";  // 500 characters in 978 bytes
    core->sendData(accents, nullptr, std::nullopt);
    const std::string console = testing::internal::GetCapturedStderr();
    const std::string expected =
        "WVSB SEND: {\"data\":\"" + std::string(491, 'x') + " [...]\n" +
        "WVSB SEND: {\"data\":\"" + std::string(489, 'y') + "\"}\n" +
        "WVSB SEND: {\"data\":\"" + std::string(490, 'z') + "\" [...]\n" +
        "WVSB SEND: {\"data\":\"" + accents + "\"}\n";
    if (console == expected) {
        std::fputs("logged as expected\n", stderr);
        std::exit(0);
    }
    std::fputs(("logged instead:\n" + console).c_str(), stderr);
    std::exit(1);
}

}  // namespace

// The message log is off unless turned on, and once on it stays on for the whole process:
// it is looked at in a process of its own.
TEST(WebViewScriptBridgeBaseTest, TheMessageLogCutsMessagesLongerThanItsLimit) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(logMessagesOfSeveralLengths(), testing::ExitedWithCode(0), "logged as expected");
}
