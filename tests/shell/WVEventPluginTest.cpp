#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <stdexcept>

#include "BridgePairFixture.h"
#include "foundation/Error.h"
#include "foundation/MainQueue.h"
#include "logging/CapturingLogger.h"
#include "shell/plugins/WVEventPlugin.h"

using foundation::Value;

namespace {

std::atomic<int> instancesMade{0};

// Answers where it ran and which instance it was; throws when the command asks for it.
class ProbeHandler : public WVEventHandler {
public:
    explicit ProbeHandler(bool onMain) : onMain_(onMain), serial_(++instancesMade) {}

    void handleRequestEventPluginCallback(const Value& request,
                                          const std::shared_ptr<WVEventPlugin>& plugin,
                                          WVBridgeResponseCallback callback) override {
        const std::string cmd = request["cmd"].stringOr();
        if (cmd == "named") throw foundation::NamedException("ProbeFailure", "probe refused");
        if (cmd == "plain") throw std::runtime_error("worker failed");
        if (cmd == "after-answer") {
            callback(Value::dict({{"result", true}}));
            throw std::runtime_error("too late");
        }
        callback(Value::dict({{"result", true},
                              {"data", Value::dict({{"main", foundation::MainQueue::isMainThread()},
                                                    {"serial", serial_},
                                                    {"bridge", plugin->wkbridge() != nullptr},
                                                    {"args", request["data"]}})}}));
    }
    bool requireMainThread() const override { return onMain_; }

private:
    bool onMain_;
    int serial_;
};

void registerProbes() {
    static std::once_flag once;
    std::call_once(once, [] {
        WVEventPlugin::addHandlerClassForEvent(
            {"MainProbe", [] { return std::make_shared<ProbeHandler>(true); }}, "probe-main");
        WVEventPlugin::addHandlerClassForEvent(
            {"PoolProbe", [] { return std::make_shared<ProbeHandler>(false); }}, "probe-pool");
    });
}

class WVEventPluginTest : public BridgePairTest {
protected:
    void SetUp() override {
        registerProbes();
        LgLog::sharedInstance().addLogger(logger);
        plugin = WVEventPlugin::create(front, {}, {});
        startPage();
    }
    void TearDown() override {
        LgLog::sharedInstance().removeAllLoggers();
        BridgePairTest::TearDown();
    }

    Value event(const Value& name, const char* cmd, const Value& args = Value()) {
        Value request = Value::dict({{"cmd", cmd}});
        request.set("data", args);
        Value message = Value::dict({{"data", request}});
        message.set("event", name);
        return ask("wvevent", message);
    }

    std::shared_ptr<CapturingLogger> logger = std::make_shared<CapturingLogger>();
    std::shared_ptr<WVEventPlugin> plugin;
};

}  // namespace

TEST_F(WVEventPluginTest, AnswersEachEventOnTheThreadItsHandlerAsksFor) {
    struct Case {
        Value event;
        const char* cmd;
        Value expected;  // "result" and "error", or "data.main"
    };
    const Case cases[] = {
        {"nope", "x", Value::dict({{"result", false}, {"error", "unhandled command: nope"}})},
        {Value(), "x", Value::dict({{"result", false}, {"error", "unhandled command: (null)"}})},
        {"probe-main", "where", Value::dict({{"result", true}, {"main", true}})},
        {"probe-pool", "where", Value::dict({{"result", true}, {"main", false}})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(foundation::json::write(c.event));
        Value answer = event(c.event, c.cmd, Value::list({1, "two"}));
        EXPECT_EQ(answer["result"], c.expected["result"]);
        if (!c.expected["error"].isNil()) {
            EXPECT_EQ(answer, c.expected);
        } else {
            EXPECT_EQ(answer["data"]["main"], c.expected["main"]);
            EXPECT_EQ(answer["data"]["bridge"], Value(true));
            EXPECT_EQ(answer["data"]["args"], Value::list({1, "two"}));
        }
    }
    // Every request gets a fresh handler; a message that is no event request is refused.
    EXPECT_NE(event("probe-main", "where")["data"]["serial"],
              event("probe-main", "where")["data"]["serial"]);
    EXPECT_EQ(ask("wvevent", "system"),
              Value::dict({{"result", false}, {"error", "invalid event request."}}));
}

TEST_F(WVEventPluginTest, ExceptionsAnswerCriticalOnBothRoadsAndAreLogged) {
    struct Case {
        const char* event;
        const char* cmd;
        const char* description;
    };
    const Case cases[] = {
        {"probe-main", "named", "probe refused"},
        {"probe-pool", "named", "probe refused"},
        {"probe-main", "plain", "worker failed"},
        {"probe-pool", "plain", "worker failed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.event) + " " + c.cmd);
        const auto before = logger->records().size();
        EXPECT_EQ(event(c.event, c.cmd),
                  Value::dict({{"result", false},
                               {"error", std::string("CRITICAL Exception: ") + c.description}}));
        LgLog::sharedInstance().flushLog();
        const auto records = logger->records();
        ASSERT_EQ(records.size(), before + 1);
        EXPECT_EQ(records.back().flag(), LgLogFlagError);
        EXPECT_EQ(records.back().message(), std::string("[ERROR] ") + c.description);
    }
}

TEST_F(WVEventPluginTest, AHandlerAnswersOnlyOnceEvenWhenItFailsAfterwards) {
    page(
        "window.count = 0;"
        "bridge.callHandler('wvevent', {event: 'probe-pool', data: {cmd: 'after-answer'}},"
        " function(r) { count++; window.last = r; });");
    ASSERT_TRUE(waitForPage("count == 1"));
    // Give a second answer every chance to arrive.
    EXPECT_EQ(event("probe-pool", "where")["result"], Value(true));
    testsupport::drainMainLoop();
    EXPECT_EQ(page("count"), "1");
    EXPECT_EQ(page("last.result"), "true");
}

TEST(WVEventPluginRegistry, RefusesASecondClassForAnEvent) {
    registerProbes();
    try {
        WVEventPlugin::addHandlerClassForEvent(
            {"OtherProbe", [] { return std::make_shared<ProbeHandler>(true); }}, "probe-main");
        FAIL() << "a second registration was accepted";
    } catch (const std::logic_error& e) {
        EXPECT_STREQ(e.what(), "handler for \"probe-main\" already exists: MainProbe");
    }
    EXPECT_EQ(WVEventPlugin::handlers().at("probe-main").name, "MainProbe");
    EXPECT_EQ(WVEventPlugin::handlerForEvent("no-such-event"), nullptr);
}
