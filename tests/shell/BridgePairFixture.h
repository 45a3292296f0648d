#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "foundation/Json.h"
#include "foundation/Value.h"
#include "support/MainLoop.h"
#include "support/headlesspage/HeadlessFront.h"

// A bridge front over a headless page whose bridge is started and ready. The page's start
// function keeps the bridge in window.bridge.
class BridgePairTest : public testing::Test {
protected:
    void TearDown() override { EXPECT_TRUE(front->page().errors().empty()) << pageErrors(); }

    void startPage(const std::string& extraSetup = "") {
        front->startPage("function(bridge) { window.bridge = bridge; " + extraSetup + " }");
        ASSERT_TRUE(waitForPage("typeof window.bridge == 'object'"));
    }

    std::string page(const std::string& script) {
        return front->page().evaluate(script).value_or("undefined");
    }

    // Spins the main loop until the page expression holds.
    bool waitForPage(const std::string& condition) {
        return testsupport::runMainLoopUntil([&] { return page(condition) == "true"; });
    }

    // Calls a native handler from the page with a reply callback and returns the answer
    // (null for an answer of undefined). With `waitForAnswer` false it returns nil when no
    // answer came before a later page request to "ping" was answered.
    foundation::Value ask(const std::string& handlerName, const foundation::Value& data,
                          bool waitForAnswer = true) {
        if (!pingRegistered_) {
            front->registerHandler("ping",
                                   [](const foundation::Value&, auto reply) { reply(true); });
            pingRegistered_ = true;
        }
        const std::string id = std::to_string(++asked_);
        page(
            "window.answers = window.answers || {}; window.pinged = window.pinged || {};"
            "bridge.callHandler('" +
            handlerName + "', " + foundation::json::write(data) + ", function(r) { answers[" + id +
            "] = JSON.stringify(r === undefined ? null : r); });"
            "bridge.callHandler('ping', null, function() { pinged[" +
            id + "] = true; });");
        const std::string answered = "(" + id + " in answers)";
        if (waitForAnswer) {
            if (!waitForPage(answered)) return {};
        } else if (!waitForPage("(" + id + " in pinged)") || page(answered) != "true") {
            return {};
        }
        return foundation::json::read(page("answers[" + id + "]")).value_or(foundation::Value());
    }

    std::string pageErrors() const {
        std::string all;
        for (const auto& error : front->page().errors()) all += error + "\n";
        return all;
    }

    std::shared_ptr<testsupport::HeadlessFront> front = testsupport::HeadlessFront::open();

private:
    bool pingRegistered_ = false;
    int asked_ = 0;
};
