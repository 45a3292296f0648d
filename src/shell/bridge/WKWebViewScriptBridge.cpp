#include "shell/bridge/WKWebViewScriptBridge.h"

#include "content/PageOrigins.h"
#include "platform/webkit/WebView.h"
#include "logging/Console.h"

std::shared_ptr<WKWebViewScriptBridge> WKWebViewScriptBridge::bridgeForWebView(
    const std::shared_ptr<webkit::WebView>& view) {
    auto front = ScriptBridge::make<WKWebViewScriptBridge>(view);
    front->self_ = front;
    front->_setupInstance(view);
    return front;
}

void WKWebViewScriptBridge::_setupInstance(const std::shared_ptr<webkit::WebView>& view) {
    // The view's events come to this front while it lives; without it navigations are
    // allowed and the rest goes WebKit's own way.
    const std::weak_ptr<WKWebViewScriptBridge> weakFront = self_;
    view->onNavigation = [weakFront](const std::string& uri,
                                     std::shared_ptr<webkit::NavigationDecision> decision) {
        if (auto front = weakFront.lock()) {
            front->webViewDecidePolicyForNavigationActionDecisionHandler(uri, decision);
        } else {
            decision->allow();
        }
    };
    view->onNavigationResponse = [weakFront](const std::string& uri,
                                             WebKitPolicyDecision* decision) {
        auto front = weakFront.lock();
        return front && front->webViewDecidePolicyForNavigationResponseDecisionHandler(uri, decision);
    };
    view->onAuthenticate = [weakFront](WebKitAuthenticationRequest* request) {
        auto front = weakFront.lock();
        return front && front->webViewDidReceiveAuthenticationChallengeCompletionHandler(request);
    };
    view->onLoadStep = [weakFront](webkit::WebView::LoadStep step, const std::string& uri) {
        auto front = weakFront.lock();
        if (!front) return;
        if (step == webkit::WebView::LoadStep::Started) front->webViewDidStartProvisionalNavigation(uri);
        if (step == webkit::WebView::LoadStep::Finished) front->webViewDidFinishNavigation(uri);
    };
    view->onLoadFailed = [weakFront](const std::string& uri, const std::string& error,
                                     bool provisional) {
        auto front = weakFront.lock();
        if (!front) return;
        if (provisional) {
            front->webViewDidFailProvisionalNavigationWithError(uri, error);
        } else {
            front->webViewDidFailNavigationWithError(uri, error);
        }
    };
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

void WKWebViewScriptBridge::webViewDecidePolicyForNavigationActionDecisionHandler(
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

bool WKWebViewScriptBridge::webViewDecidePolicyForNavigationResponseDecisionHandler(
    const std::string& uri, WebKitPolicyDecision* decision) {
    auto delegate = webViewDelegate_.lock();
    if (!delegate || !delegate->decidesNavigationResponses()) return false;  // allowed
    delegate->decidePolicyForNavigationResponse(
        uri, std::make_shared<webkit::NavigationDecision>(decision));
    return true;
}

bool WKWebViewScriptBridge::webViewDidReceiveAuthenticationChallengeCompletionHandler(
    WebKitAuthenticationRequest* request) {
    auto delegate = webViewDelegate_.lock();
    return delegate && delegate->didReceiveAuthenticationChallenge(request);
}

void WKWebViewScriptBridge::webViewDidStartProvisionalNavigation(const std::string& uri) {
    if (auto delegate = webViewDelegate_.lock()) delegate->didStartProvisionalNavigation(uri);
}

void WKWebViewScriptBridge::webViewDidFinishNavigation(const std::string& uri) {
    if (auto delegate = webViewDelegate_.lock()) delegate->didFinishNavigation(uri);
}

void WKWebViewScriptBridge::webViewDidFailNavigationWithError(const std::string& uri,
                                                              const std::string& error) {
    if (auto delegate = webViewDelegate_.lock()) delegate->didFailNavigation(uri, error);
}

void WKWebViewScriptBridge::webViewDidFailProvisionalNavigationWithError(
    const std::string& uri, const std::string& error) {
    if (auto delegate = webViewDelegate_.lock()) delegate->didFailProvisionalNavigation(uri, error);
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
