#include "shell/bridge/WebViewScriptBridgeBase.h"

#include <fmt/format.h>

#include <algorithm>
#include <exception>
#include <utility>

#include "foundation/Json.h"
#include "foundation/MainQueue.h"
#include "logging/LogCall.h"
#include "logging/Console.h"
#include "shell/bridge/WebViewScriptBridgeScript.h"

using foundation::Value;

std::atomic<bool> WebViewScriptBridgeBase::logging_{false};
std::atomic<std::int32_t> WebViewScriptBridgeBase::logMaxLength_{500};

namespace {

void replaceAll(std::string& text, std::string_view from, std::string_view to) {
    std::string out;
    out.reserve(text.size());
    std::size_t start = 0;
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, start)) {
        out.append(text, start, at - start);
        out.append(to);
        start = at + from.size();
    }
    if (start == 0) return;
    out.append(text, start, std::string::npos);
    text = std::move(out);
}

// The first `count` characters (code points) of UTF-8 text.
std::string_view prefixOfCharacters(std::string_view text, std::size_t count) {
    std::size_t at = 0;
    for (std::size_t seen = 0; at < text.size() && seen < count; ++seen) {
        ++at;
        while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) ++at;
    }
    return text.substr(0, at);
}

std::size_t characterCount(std::string_view text) {
    std::size_t count = 0;
    for (char c : text) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return count;
}

// Calls a handler or reply block; an exception must not escape into the view's signal
// handler, and the page's later messages must still be served.
template <typename Call>
void callGuarded(const char* what, Call&& call) {
    try {
        call();
    } catch (const std::exception& e) {
        LogError("{} raised an exception: {}", what, e.what());
    } catch (...) {
        LogError("{} raised an unknown exception", what);
    }
}

}  // namespace

std::shared_ptr<WebViewScriptBridgeBase> WebViewScriptBridgeBase::create() {
    return std::shared_ptr<WebViewScriptBridgeBase>(new WebViewScriptBridgeBase());
}

void WebViewScriptBridgeBase::enableLogging() {
    logging_ = true;
}

void WebViewScriptBridgeBase::setLogMaxLength(std::int32_t length) {
    logMaxLength_ = length;
}

void WebViewScriptBridgeBase::reset() {
    std::map<std::string, WVBridgeResponseCallback, std::less<>> dropped;
    {
        std::lock_guard lock(mutex_);
        _startupMessageQueue = std::vector<Value>{};
        dropped.swap(_responseCallbacks);
        _uniqueId = 0;
    }
    // The dropped blocks are destroyed here, outside the lock: they may own objects whose
    // destructors come back to the bridge.
}

void WebViewScriptBridgeBase::sendData(const Value& data, WVBridgeResponseCallback responseCallback,
                                       std::optional<std::string> handlerName) {
    if (foundation::MainQueue::isMainThread()) {
        buildAndQueue(data, std::move(responseCallback), handlerName);
        return;
    }
    foundation::MainQueue::sync(
        [&] { buildAndQueue(data, std::move(responseCallback), handlerName); });
}

void WebViewScriptBridgeBase::buildAndQueue(const Value& data,
                                            WVBridgeResponseCallback responseCallback,
                                            const std::optional<std::string>& handlerName) {
    Value message = foundation::Dictionary{};
    if (!data.isNil()) message.set("data", data);
    if (responseCallback) {
        std::string callbackId;
        {
            std::lock_guard lock(mutex_);
            callbackId = fmt::format("native_cb_{}", ++_uniqueId);
            _responseCallbacks[callbackId] = std::move(responseCallback);
        }
        message.set("callbackId", callbackId);
    }
    if (handlerName) message.set("handlerName", *handlerName);
    _queueMessage(std::move(message));
}

void WebViewScriptBridgeBase::_queueMessage(Value message) {
    {
        std::lock_guard lock(mutex_);
        if (_startupMessageQueue) {
            _startupMessageQueue->push_back(std::move(message));
            return;
        }
    }
    _dispatchMessage(message);
}

void WebViewScriptBridgeBase::_dispatchMessage(const Value& message) {
    std::string messageJSON = _serializeMessage(message, false);
    logText("SEND", messageJSON);
    std::string command = fmt::format("WebViewScriptBridge._handleMessageFromNative('{}');",
                                      escapeForJavascript(messageJSON));
    if (foundation::MainQueue::isMainThread()) {
        _evaluateJavascript(command);
    } else {
        foundation::MainQueue::sync([&] { _evaluateJavascript(command); });
    }
}

std::string WebViewScriptBridgeBase::escapeForJavascript(std::string_view messageJSON) {
    std::string text(messageJSON);
    replaceAll(text, "\\", "\\\\");
    replaceAll(text, "\"", "\\\"");
    replaceAll(text, "'", "\\'");
    replaceAll(text, "\n", "\\n");
    replaceAll(text, "\r", "\\r");
    replaceAll(text, "\f", "\\f");
    replaceAll(text, "\u2028", "\\u2028");
    replaceAll(text, "\u2029", "\\u2029");
    return text;
}

void WebViewScriptBridgeBase::_evaluateJavascript(const std::string& script) {
    if (auto front = delegate()) front->_evaluateJavascript(script);
}

void WebViewScriptBridgeBase::injectJavascriptFile() {
    _evaluateJavascript(WebViewScriptBridge_js());
    std::optional<std::vector<Value>> held;
    {
        std::lock_guard lock(mutex_);
        held.swap(_startupMessageQueue);
    }
    if (!held) return;
    for (const Value& message : *held) _dispatchMessage(message);
}

void WebViewScriptBridgeBase::flushMessageQueue(
    const std::optional<std::string>& messageQueueString) {
    if (!messageQueueString || messageQueueString->empty()) {
        ConsoleLog(
            "WebViewScriptBridge: WARNING: the native side got nil while fetching the message "
            "queue JSON from webview. This can happen if the WebViewScriptBridge JS is not "
            "currently present in the webview, e.g if the webview just loaded a new page.");
        return;
    }
    Value messages = _deserializeMessageJSON(*messageQueueString);
    if (!messages.isArray()) {
        ConsoleLog(fmt::format("WebViewScriptBridge: WARNING: Invalid {} received: {}",
                               foundation::kindName(messages.kind()), *messageQueueString));
        return;
    }
    for (const Value& message : *messages.array()) serveOne(message);
}

void WebViewScriptBridgeBase::serveOne(const Value& message) {
    if (!message.isDictionary()) {
        ConsoleLog(fmt::format("WebViewScriptBridge: WARNING: Invalid {} received: {}",
                               foundation::kindName(message.kind()),
                               _serializeMessage(message, false)));
        return;
    }
    _log("RCVD", message);

    if (const Value& responseId = message["responseId"]; !responseId.isNil()) {
        WVBridgeResponseCallback waiting;
        if (const std::string* id = responseId.string()) {
            std::lock_guard lock(mutex_);
            if (auto found = _responseCallbacks.find(*id); found != _responseCallbacks.end()) {
                waiting = std::move(found->second);
                _responseCallbacks.erase(found);
            }
        }
        // Taken out before the call, so that a reply arriving twice is served once.
        if (waiting) callGuarded("a reply block", [&] { waiting(message["responseData"]); });
        return;
    }

    WVBridgeResponseCallback reply = replyBlockFor(message["callbackId"]);
    WVBridgeHandler handler;
    if (const std::string* name = message["handlerName"].string()) {
        std::lock_guard lock(mutex_);
        if (auto found = _messageHandlers.find(*name); found != _messageHandlers.end())
            handler = found->second;
    }
    if (!handler) {
        ConsoleLog(fmt::format("WVSBNoHandlerException, No handler for message from JS: {}",
                               _serializeMessage(message, false)));
        return;
    }
    // Called with no lock held: a handler may run a nested main loop that serves more
    // page messages.
    callGuarded("a bridge handler", [&] { handler(message["data"], std::move(reply)); });
}

WVBridgeResponseCallback WebViewScriptBridgeBase::replyBlockFor(const Value& callbackId) {
    if (callbackId.isNil()) return [](const Value&) {};
    std::weak_ptr<WebViewScriptBridgeBase> weakSelf = weak_from_this();
    return [weakSelf, callbackId](const Value& responseData) {
        auto self = weakSelf.lock();
        if (!self) return;
        Value reply = foundation::Dictionary{};
        reply.set("responseId", callbackId);
        reply.set("responseData", responseData.isNil() ? Value::null() : responseData);
        self->_queueMessage(std::move(reply));
    };
}

bool WebViewScriptBridgeBase::isWebViewScriptBridgeURL(const foundation::Url& url) const {
    return isSchemeMatch(url) && (isQueueMessageURL(url) || isBridgeLoadedURL(url));
}

bool WebViewScriptBridgeBase::isSchemeMatch(const foundation::Url& url) const {
    // Url keeps scheme and host lower-cased already.
    return url.scheme() == "https" || url.scheme() == "wvsbscheme";
}

bool WebViewScriptBridgeBase::isQueueMessageURL(const foundation::Url& url) const {
    return isSchemeMatch(url) && url.host() == kQueueHasMessageHost;
}

bool WebViewScriptBridgeBase::isBridgeLoadedURL(const foundation::Url& url) const {
    return isSchemeMatch(url) && url.host() == kBridgeLoadedHost;
}

void WebViewScriptBridgeBase::logUnkownMessage(const foundation::Url& url) const {
    ConsoleLog(
        fmt::format("WebViewScriptBridge: WARNING: Received unknown WebViewScriptBridge command {}",
                    url.toString()));
}

void WebViewScriptBridgeBase::disableJavscriptAlertBoxSafetyTimeout() {
    sendData(Value(), nullptr, std::string("_disableJavascriptAlertBoxSafetyTimeout"));
}

void WebViewScriptBridgeBase::registerHandler(const std::string& name, WVBridgeHandler handler) {
    WVBridgeHandler replaced;
    {
        std::lock_guard lock(mutex_);
        WVBridgeHandler& slot = _messageHandlers[name];
        replaced = std::exchange(slot, std::move(handler));
    }
    // `replaced` dies here, outside the lock: it may own the plugin that registered it.
}

void WebViewScriptBridgeBase::removeHandler(const std::string& name) {
    WVBridgeHandler removed;
    {
        std::lock_guard lock(mutex_);
        if (auto found = _messageHandlers.find(name); found != _messageHandlers.end()) {
            removed = std::move(found->second);
            _messageHandlers.erase(found);
        }
    }
}

void WebViewScriptBridgeBase::setDelegate(std::weak_ptr<WebViewScriptBridgeBaseDelegate> delegate) {
    std::lock_guard lock(mutex_);
    _delegate = std::move(delegate);
}

std::shared_ptr<WebViewScriptBridgeBaseDelegate> WebViewScriptBridgeBase::delegate() const {
    std::lock_guard lock(mutex_);
    return _delegate.lock();
}

std::optional<std::vector<Value>> WebViewScriptBridgeBase::startupMessageQueue() const {
    std::lock_guard lock(mutex_);
    return _startupMessageQueue;
}

std::vector<std::string> WebViewScriptBridgeBase::responseCallbackIds() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> ids;
    for (const auto& entry : _responseCallbacks) ids.push_back(entry.first);
    return ids;
}

std::vector<std::string> WebViewScriptBridgeBase::messageHandlerNames() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> names;
    for (const auto& entry : _messageHandlers) names.push_back(entry.first);
    return names;
}

WebViewScriptBridgeBase::ResponseCallbacks WebViewScriptBridgeBase::responseCallbacks() const {
    std::lock_guard lock(mutex_);
    return _responseCallbacks;
}

WebViewScriptBridgeBase::MessageHandlers WebViewScriptBridgeBase::messageHandlers() const {
    std::lock_guard lock(mutex_);
    return _messageHandlers;
}

void WebViewScriptBridgeBase::setStartupMessageQueue(std::optional<std::vector<Value>> queue) {
    std::lock_guard lock(mutex_);
    _startupMessageQueue = std::move(queue);
}

void WebViewScriptBridgeBase::setResponseCallbacks(ResponseCallbacks callbacks) {
    std::lock_guard lock(mutex_);
    _responseCallbacks.swap(callbacks);
    // The replaced blocks go after the lock: they may hold what takes it again.
}

void WebViewScriptBridgeBase::setMessageHandlers(MessageHandlers handlers) {
    std::lock_guard lock(mutex_);
    _messageHandlers.swap(handlers);
}

std::string WebViewScriptBridgeBase::_serializeMessage(const Value& message, bool pretty) {
    return foundation::json::write(
        message, pretty ? foundation::json::Style::Indented : foundation::json::Style::Compact);
}

Value WebViewScriptBridgeBase::_deserializeMessageJSON(std::string_view messageJSON) {
    std::optional<Value> parsed = foundation::json::read(messageJSON);
    return parsed ? std::move(*parsed) : Value();
}

void WebViewScriptBridgeBase::_log(std::string_view action, const Value& json) {
    if (!logging_) return;
    if (const std::string* text = json.string()) {
        logText(action, *text);
    } else {
        logText(action, _serializeMessage(json, true));
    }
}

void WebViewScriptBridgeBase::logText(std::string_view action, std::string_view text) {
    if (!logging_) return;
    const auto limit = static_cast<std::size_t>(std::max<std::int32_t>(0, logMaxLength_));
    if (characterCount(text) > limit) {
        ConsoleLog(fmt::format("WVSB {}: {} [...]", action, prefixOfCharacters(text, limit)));
    } else {
        ConsoleLog(fmt::format("WVSB {}: {}", action, text));
    }
}
