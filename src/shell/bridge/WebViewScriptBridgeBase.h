#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Url.h"
#include "foundation/Value.h"
#include "shell/bridge/BridgeBlocks.h"
#include "shell/bridge/WebViewScriptBridgeBaseDelegate.h"

// The core of the message bridge between native code and the page: the native handlers
// the page may call, the reply blocks waiting for the page, and the messages held back
// until the page script is injected. It turns messages into JSON, escapes them for
// evaluation, and recognises the URLs by which the page signals. Script is evaluated
// through the delegate (the browser view front).
//
// Threads: handlers are called on the main thread while the page's queue is served.
// Sending and reply blocks may be used from any thread; the evaluation always happens on
// the main thread and an off-main caller waits for it, so the main thread must never wait
// for a background job that answers the page. No lock is held while a handler, a reply
// block or the delegate runs.
class WebViewScriptBridgeBase : public std::enable_shared_from_this<WebViewScriptBridgeBase> {
public:
    static constexpr std::string_view kQueueHasMessageHost = "__wvsb_queue_message__";
    static constexpr std::string_view kBridgeLoadedHost = "__wvsb_bridge_loaded__";
    static constexpr std::string_view webViewJavascriptFetchQueyCommand =
        "WebViewScriptBridge._fetchQueue();";
    static constexpr std::string_view webViewJavascriptCheckCommand =
        "typeof WebViewScriptBridge == 'object';";

    // Made through make_shared: reply blocks handed to handlers refer back to the core.
    static std::shared_ptr<WebViewScriptBridgeBase> create();
    WebViewScriptBridgeBase(const WebViewScriptBridgeBase&) = delete;
    WebViewScriptBridgeBase& operator=(const WebViewScriptBridgeBase&) = delete;

    // Process-wide switches of the message log; nothing turns it on in the program.
    static void enableLogging();
    static void setLogMaxLength(std::int32_t length);

    // A fresh startup queue and callback table, counter 0. Handlers stay.
    void reset();

    // Any thread: the message is built and queued on the main thread; an off-main caller
    // waits until that is done.
    void sendData(const foundation::Value& data, WVBridgeResponseCallback responseCallback,
                  std::optional<std::string> handlerName);
    // Serves every message of the page's queue (its JSON text; nullopt when it could not
    // be had). Main thread.
    void flushMessageQueue(const std::optional<std::string>& messageQueueString);
    // Evaluates the page script, then delivers the messages held back until now. Main
    // thread.
    void injectJavascriptFile();

    bool isWebViewScriptBridgeURL(const foundation::Url& url) const;
    bool isSchemeMatch(const foundation::Url& url) const;
    bool isQueueMessageURL(const foundation::Url& url) const;
    bool isBridgeLoadedURL(const foundation::Url& url) const;
    void logUnkownMessage(const foundation::Url& url) const;
    void disableJavscriptAlertBoxSafetyTimeout();

    // The handler table. A later registration under a name replaces the earlier one.
    void registerHandler(const std::string& name, WVBridgeHandler handler);
    void removeHandler(const std::string& name);

    void setDelegate(std::weak_ptr<WebViewScriptBridgeBaseDelegate> delegate);
    std::shared_ptr<WebViewScriptBridgeBaseDelegate> delegate() const;
    // Snapshots, for inspection: nullopt once the page script has been injected.
    std::optional<std::vector<foundation::Value>> startupMessageQueue() const;
    std::vector<std::string> responseCallbackIds() const;
    std::vector<std::string> messageHandlerNames() const;
    // The tables themselves, and their replacement as a whole.
    using ResponseCallbacks = std::map<std::string, WVBridgeResponseCallback, std::less<>>;
    using MessageHandlers = std::map<std::string, WVBridgeHandler, std::less<>>;
    ResponseCallbacks responseCallbacks() const;
    MessageHandlers messageHandlers() const;
    // nullopt sends every later message at once, as after the page script's injection.
    void setStartupMessageQueue(std::optional<std::vector<foundation::Value>> queue);
    void setResponseCallbacks(ResponseCallbacks callbacks);
    void setMessageHandlers(MessageHandlers handlers);

    // Compact or indented JSON text (UTF-8).
    static std::string _serializeMessage(const foundation::Value& message, bool pretty);
    // Nil when the text is not JSON; a bare scalar is accepted.
    static foundation::Value _deserializeMessageJSON(std::string_view messageJSON);
    // The message JSON escaped for a single-quoted script string literal.
    static std::string escapeForJavascript(std::string_view messageJSON);

private:
    WebViewScriptBridgeBase() = default;

    // Main thread only: builds the message and queues it.
    void buildAndQueue(const foundation::Value& data, WVBridgeResponseCallback responseCallback,
                       const std::optional<std::string>& handlerName);
    void _queueMessage(foundation::Value message);
    void _dispatchMessage(const foundation::Value& message);
    void _evaluateJavascript(const std::string& script);
    void serveOne(const foundation::Value& message);
    WVBridgeResponseCallback replyBlockFor(const foundation::Value& callbackId);
    static void _log(std::string_view action, const foundation::Value& json);
    static void logText(std::string_view action, std::string_view text);

    static std::atomic<bool> logging_;
    static std::atomic<std::int32_t> logMaxLength_;

    // Guards every field below, never held while calling out.
    mutable std::mutex mutex_;
    std::int64_t _uniqueId = 0;
    std::weak_ptr<WebViewScriptBridgeBaseDelegate> _delegate;
    std::optional<std::vector<foundation::Value>> _startupMessageQueue =
        std::vector<foundation::Value>{};
    ResponseCallbacks _responseCallbacks;
    MessageHandlers _messageHandlers;
};
