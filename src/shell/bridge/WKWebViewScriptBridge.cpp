#include "shell/bridge/WKWebViewScriptBridge.h"

#include "content/PageOrigins.h"
#include "platform/webkit/WebView.h"
#include "logging/Console.h"

std::shared_ptr<WKWebViewScriptBridge> WKWebViewScriptBridge::bridgeForWebView(
    const std::shared_ptr<webkit::WebView>& view) {
    auto front = ScriptBridge::make<WKWebViewScriptBridge>(view);
    std::weak_ptr<WKWebViewScriptBridge> weakFront = front;
    view->onNavigation = [weakFront](const std::string& uri,
                                     std::shared_ptr<webkit::NavigationDecision> decision) {
        if (auto front = weakFront.lock()) {
            front->decideNavigation(uri, decision);
        } else {
            decision->allow();
        }
    };
    return front;
}

WKWebViewScriptBridge::WKWebViewScriptBridge(std::weak_ptr<webkit::WebView> view)
    : _webView(std::move(view)) {}

WKWebViewScriptBridge::~WKWebViewScriptBridge() = default;

bool WKWebViewScriptBridge::showsOwnPage(const std::weak_ptr<webkit::WebView>& weakView) {
    const auto view = weakView.lock();
    return view && content::PageOrigins::isOwnPage(view->committedURI());
}

void WKWebViewScriptBridge::_evaluateJavascript(const std::string& script) {
    if (!showsOwnPage(_webView)) return;
    if (auto view = _webView.lock()) view->evaluateJavascript(script);
}

void WKWebViewScriptBridge::decideNavigation(
    const std::string& uri, const std::shared_ptr<webkit::NavigationDecision>& decision) {
    auto url = foundation::Url::parse(uri);
    if (url && base().isWebViewScriptBridgeURL(*url) && !showsOwnPage(_webView)) {
        const auto view = _webView.lock();
        ConsoleLog("WebViewScriptBridge: a page that is not ours asked for the bridge: " +
                   (view ? view->committedURI() : std::string()));
        decision->cancel();
        return;
    }
    if (url && handleBridgeURL(*url, [view = _webView](auto deliver) {
            WKFlushMessageQueue(view, std::move(deliver));
        })) {
        decision->cancel();
        return;
    }
    auto delegate = webViewDelegate_.lock();
    if (!delegate || !delegate->decidePolicyForNavigationAction(uri, decision)) decision->allow();
}

void WKWebViewScriptBridge::WKFlushMessageQueue(
    const std::weak_ptr<webkit::WebView>& weakView,
    std::function<void(std::optional<std::string>)> deliver) {
    auto view = weakView.lock();
    if (!view || !showsOwnPage(weakView)) return;
    view->evaluateJavascript(
        std::string(WebViewScriptBridgeBase::webViewJavascriptFetchQueyCommand),
        [weakView, deliver = std::move(deliver)](webkit::ScriptResult result) {
            // The page may have changed while the script ran.
            if (!showsOwnPage(weakView)) return;
            if (result.error) {
                ConsoleLog(
                    "WebViewScriptBridge: WARNING: Error when trying to "
                    "fetch data from WKWebView: " +
                    *result.error);
                deliver(std::nullopt);
                return;
            }
            deliver(result.string ? result.string : result.json);
        });
}
