#pragma once

#include <memory>
#include <string>
#include <vector>

#include "shell/bridge/ScriptBridge.h"
#include "support/headlesspage/HeadlessPage.h"

namespace testsupport {

// A bridge front over a HeadlessPage: it evaluates script in the page and serves the
// page's signalling navigations as a browser view front does. Main thread only.
class HeadlessFront : public ScriptBridge {
public:
    // A front over a fresh page, connected both ways.
    static std::shared_ptr<HeadlessFront> open();

    explicit HeadlessFront(std::shared_ptr<HeadlessPage> page) : page_(std::move(page)) {}

    void _evaluateJavascript(const std::string& script) override;

    HeadlessPage& page() { return *page_; }
    // How many times the page's queue has been fetched.
    int fetchCount() const { return fetches_; }

    // Page-side start-up as a web application does it: the function (script text taking
    // the bridge object) is kept in window.WVSBCallbacks and the page asks for the bridge.
    void startPage(const std::string& startFunction);

private:
    void navigate(const std::string& url);

    std::shared_ptr<HeadlessPage> page_;
    int fetches_ = 0;
};

}  // namespace testsupport
