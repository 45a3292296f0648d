#include "shell/bridge/ScriptBridge.h"

#include <utility>

using foundation::Value;

void ScriptBridge::registerHandler(const std::string& handlerName, WVBridgeHandler handler) {
    base_->registerHandler(handlerName, std::move(handler));
}

void ScriptBridge::removeHandler(const std::string& handlerName) {
    base_->removeHandler(handlerName);
}

void ScriptBridge::callHandler(const std::string& handlerName) {
    base_->sendData(Value(), nullptr, handlerName);
}

void ScriptBridge::callHandler(const std::string& handlerName, const Value& data) {
    base_->sendData(data, nullptr, handlerName);
}

void ScriptBridge::callHandler(const std::string& handlerName, const Value& data,
                               WVBridgeResponseCallback responseCallback) {
    base_->sendData(data, std::move(responseCallback), handlerName);
}

void ScriptBridge::send(const Value& data, WVBridgeResponseCallback responseCallback) {
    base_->sendData(data, std::move(responseCallback), std::nullopt);
}

bool ScriptBridge::handleBridgeURL(const foundation::Url& url, const QueueFetcher& fetchQueue) {
    if (!base_->isWebViewScriptBridgeURL(url)) return false;
    if (base_->isBridgeLoadedURL(url)) {
        base_->injectJavascriptFile();
    } else {
        // The core outlives the fetch even when the front goes meanwhile.
        fetchQueue(
            [core = base_](std::optional<std::string> queue) { core->flushMessageQueue(queue); });
    }
    return true;
}
