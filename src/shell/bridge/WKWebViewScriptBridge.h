#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "shell/bridge/ScriptBridge.h"
#include "shell/bridge/WebViewNavigationDelegate.h"

namespace webkit {
class WebView;
class NavigationDecision;
}  // namespace webkit
typedef struct _WebKitPolicyDecision WebKitPolicyDecision;

// The bridge front of the browser view: it watches the view's navigations for the
// bridge's signalling URLs, serves and cancels them, and hands every other navigation to
// the further delegate (or allows it). Script is evaluated without waiting for a result.
// Only the application's own pages (content::PageOrigins) have the bridge: the signalling
// navigations of any other page are cancelled unserved, and no script goes to it.
class WKWebViewScriptBridge : public ScriptBridge {
public:
    // Makes the front for the view, takes over its navigation decisions and resets the core.
    static std::shared_ptr<WKWebViewScriptBridge> bridgeForWebView(
        const std::shared_ptr<webkit::WebView>& view);

    explicit WKWebViewScriptBridge(std::weak_ptr<webkit::WebView> view);
    ~WKWebViewScriptBridge() override;

    // Who may decide the navigations that are not the bridge's own; held weakly.
    void setWebViewDelegate(std::weak_ptr<WebViewNavigationDelegate> delegate) {
        webViewDelegate_ = std::move(delegate);
    }
    // The process-wide message log of the bridge (off unless turned on).
    static void enableLogging() { WebViewScriptBridgeBase::enableLogging(); }
    static void setLogMaxLength(std::int32_t length) {
        WebViewScriptBridgeBase::setLogMaxLength(length);
    }

    void _evaluateJavascript(const std::string& script) override;

    // Takes over the view's navigation events; the front then hands them on.
    void _setupInstance(const std::shared_ptr<webkit::WebView>& view);

    // The view's navigation events. A navigation to the bridge's own addresses is served
    // and cancelled; every other event goes to the further delegate, or, where it takes
    // none, navigations and answers are allowed, a server's request for credentials goes
    // WebKit's own way, and the load steps do nothing. The answers give whether the event
    // was taken.
    void webViewDecidePolicyForNavigationActionDecisionHandler(
        const std::string& uri, const std::shared_ptr<webkit::NavigationDecision>& decision);
    bool webViewDecidePolicyForNavigationResponseDecisionHandler(const std::string& uri,
                                                                 WebKitPolicyDecision* decision);
    bool webViewDidReceiveAuthenticationChallengeCompletionHandler(
        WebKitAuthenticationRequest* request);
    void webViewDidStartProvisionalNavigation(const std::string& uri);
    void webViewDidFinishNavigation(const std::string& uri);
    void webViewDidFailNavigationWithError(const std::string& uri, const std::string& error);
    void webViewDidFailProvisionalNavigationWithError(const std::string& uri,
                                                      const std::string& error);

private:
    // Asks the page for its queued messages and hands over the JSON text (nullopt when
    // the evaluation failed).
    static bool showsOwnPage(const std::weak_ptr<webkit::WebView>& view);
    static void WKFlushMessageQueue(const std::weak_ptr<webkit::WebView>& view,
                                    std::function<void(std::optional<std::string>)> deliver);

    std::weak_ptr<webkit::WebView> _webView;
    std::weak_ptr<WKWebViewScriptBridge> self_;
    std::weak_ptr<WebViewNavigationDelegate> webViewDelegate_;
};
