#pragma once

#include <memory>
#include <optional>
#include <string>

#include "foundation/Value.h"
#include "shell/bridge/BridgeBlocks.h"
#include "shell/bridge/WebViewScriptBridgeBase.h"
#include "shell/bridge/WebViewScriptBridgeBaseDelegate.h"

// What every browser view front offers the rest of the program: native handlers for the
// page, calls of page handlers, and the core behind them. A concrete front adds its view:
// it evaluates script (`_evaluateJavascript`) and reports the signalling navigations
// (`handleBridgeURL`). Plugins hold fronts through this type.
//
// Fronts are made with ScriptBridge::make, which connects the core to the front.
class ScriptBridge : public WebViewScriptBridgeBaseDelegate {
public:
    template <typename Front, typename... Args>
    static std::shared_ptr<Front> make(Args&&... args) {
        auto front = std::make_shared<Front>(std::forward<Args>(args)...);
        front->base_->setDelegate(front);
        front->base_->reset();
        return front;
    }

    ScriptBridge() : base_(WebViewScriptBridgeBase::create()) {}
    ScriptBridge(const ScriptBridge&) = delete;
    ScriptBridge& operator=(const ScriptBridge&) = delete;

    // A later registration under the same name replaces the earlier one.
    void registerHandler(const std::string& handlerName, WVBridgeHandler handler);
    void removeHandler(const std::string& handlerName);

    // Any thread. Without a reply block the page's handler gets no callback.
    void callHandler(const std::string& handlerName);
    void callHandler(const std::string& handlerName, const foundation::Value& data);
    void callHandler(const std::string& handlerName, const foundation::Value& data,
                     WVBridgeResponseCallback responseCallback);
    // A message without a handler name.
    void send(const foundation::Value& data, WVBridgeResponseCallback responseCallback = nullptr);

    void reset() { base_->reset(); }
    void disableJavscriptAlertBoxSafetyTimeout() { base_->disableJavscriptAlertBoxSafetyTimeout(); }

    // For a navigation to `url` on the front's own view, on the main thread: serves the
    // signalling URLs and answers true (the navigation is to be cancelled); false for
    // every other URL. `fetchQueue` evaluates the fetch command and hands its result (or
    // nullopt on failure) to the continuation, now or later.
    using QueueFetcher = std::function<void(std::function<void(std::optional<std::string>)>)>;
    bool handleBridgeURL(const foundation::Url& url, const QueueFetcher& fetchQueue);

    WebViewScriptBridgeBase& base() { return *base_; }

private:
    const std::shared_ptr<WebViewScriptBridgeBase> base_;
};
