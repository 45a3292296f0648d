#pragma once

#include <functional>
#include <memory>
#include <string>

#include "shell/bridge/ScriptBridge.h"

namespace webkit {
class WebView;
class NavigationDecision;
}  // namespace webkit

// The bridge front of the browser view: it watches the view's navigations for the
// bridge's signalling URLs, serves and cancels them, and hands every other navigation to
// the further delegate (or allows it). Script is evaluated without waiting for a result.
// Only the application's own pages (content::PageOrigins) have the bridge: the signalling
// navigations of any other page are cancelled unserved, and no script goes to it.
class WKWebViewScriptBridge : public ScriptBridge {
public:
    using NavigationHandler =
        std::function<void(const std::string& uri, std::shared_ptr<webkit::NavigationDecision>)>;

    // Makes the front for the view, takes over its navigation decisions and resets the core.
    static std::shared_ptr<WKWebViewScriptBridge> bridgeForWebView(
        const std::shared_ptr<webkit::WebView>& view);

    explicit WKWebViewScriptBridge(std::weak_ptr<webkit::WebView> view);
    ~WKWebViewScriptBridge() override;

    // Who decides the navigations that are not the bridge's own.
    void setWebViewDelegate(NavigationHandler handler) { webViewDelegate_ = std::move(handler); }

    void _evaluateJavascript(const std::string& script) override;

private:
    void decideNavigation(const std::string& uri,
                          const std::shared_ptr<webkit::NavigationDecision>& decision);
    // Asks the page for its queued messages and hands over the JSON text (nullopt when
    // the evaluation failed).
    static bool showsOwnPage(const std::weak_ptr<webkit::WebView>& view);
    static void WKFlushMessageQueue(const std::weak_ptr<webkit::WebView>& view,
                                    std::function<void(std::optional<std::string>)> deliver);

    std::weak_ptr<webkit::WebView> _webView;
    NavigationHandler webViewDelegate_;
};
