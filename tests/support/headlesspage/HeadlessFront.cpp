#include "support/headlesspage/HeadlessFront.h"

#include "foundation/Url.h"

namespace testsupport {

std::shared_ptr<HeadlessFront> HeadlessFront::open() {
    auto front = ScriptBridge::make<HeadlessFront>(HeadlessPage::create());
    std::weak_ptr<HeadlessFront> weakFront = front;
    front->page_->setNavigationHandler([weakFront](const std::string& url) {
        if (auto alive = weakFront.lock()) alive->navigate(url);
    });
    return front;
}

void HeadlessFront::_evaluateJavascript(const std::string& script) {
    page_->evaluate(script);
}

void HeadlessFront::startPage(const std::string& startFunction) {
    page_->evaluate("window.WVSBCallbacks = [" + startFunction +
                    "];\n"
                    "var bridgeFrame = document.createElement('iframe');\n"
                    "bridgeFrame.style.display = 'none';\n"
                    "bridgeFrame.src = 'https://__wvsb_bridge_loaded__';\n"
                    "document.documentElement.appendChild(bridgeFrame);\n");
}

void HeadlessFront::navigate(const std::string& url) {
    auto parsed = foundation::Url::parse(url);
    if (!parsed) return;
    handleBridgeURL(*parsed, [this](auto deliver) {
        ++fetches_;
        deliver(page_->evaluate(
            std::string(WebViewScriptBridgeBase::webViewJavascriptFetchQueyCommand)));
    });
}

}  // namespace testsupport
