#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

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

    std::string pageErrors() const {
        std::string all;
        for (const auto& error : front->page().errors()) all += error + "\n";
        return all;
    }

    std::shared_ptr<testsupport::HeadlessFront> front = testsupport::HeadlessFront::open();
};
