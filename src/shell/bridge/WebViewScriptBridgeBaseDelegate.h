#pragma once

#include <string>

// What the bridge core needs of a browser view: a place to evaluate script. Each browser
// view front implements it; the core never touches a view itself.
class WebViewScriptBridgeBaseDelegate {
public:
    virtual ~WebViewScriptBridgeBaseDelegate() = default;

    // Called on the main thread only. The result is not awaited.
    virtual void _evaluateJavascript(const std::string& script) = 0;
};
