#include "shell/plugins/WVPluginBase.h"

#include <mutex>
#include <stdexcept>
#include <utility>

#include "logging/Console.h"

using foundation::Value;

namespace {

struct RegisteredPlugins {
    std::mutex mutex;
    std::vector<WVPluginBase::PluginClass> classes;
};

RegisteredPlugins& registeredPlugins() {
    static RegisteredPlugins* const list = new RegisteredPlugins();
    return *list;
}

}  // namespace

WVPluginBase::WVPluginBase(const std::shared_ptr<ScriptBridge>& bridge, std::weak_ptr<void> webview,
                           std::weak_ptr<void> window)
    : _wkbridge(bridge), _webview(std::move(webview)), _window(std::move(window)) {
    if (!bridge) throw std::invalid_argument("invalid bridge instance");
}

WVPluginBase::~WVPluginBase() {
    if (observer_ != 0) foundation::NotificationCenter::defaultCenter().removeObserver(observer_);
    if (handlerName_.empty()) return;
    if (auto bridge = wkbridge()) bridge->removeHandler(handlerName_);
}

void WVPluginBase::listen(const std::string& handlerName, const std::string& notificationName) {
    handlerName_ = handlerName;
    observer_ = foundation::NotificationCenter::defaultCenter().addObserver(
        notificationName, this,
        [this](const foundation::Notification& notification) { OnJSNotification(notification); });
    auto bridge = wkbridge();
    if (!bridge) return;
    bridge->registerHandler(handlerName, [self = shared_from_this(), notificationName](
                                             const Value& data,
                                             WVBridgeResponseCallback responseCallback) {
        foundation::NotificationCenter::defaultCenter().post(
            notificationName, self.get(), {{"cb", std::move(responseCallback)}, {"data", data}});
    });
}

const Value& WVPluginBase::messageData(const foundation::Notification& notification) {
    static const Value* const nil = new Value();  // never destroyed: jobs may outlive exit
    const Value* data = notification.get<Value>("data");
    return data ? *data : *nil;
}

WVBridgeResponseCallback WVPluginBase::replyBlock(const foundation::Notification& notification) {
    const auto* reply = notification.get<WVBridgeResponseCallback>("cb");
    return reply ? *reply : WVBridgeResponseCallback();
}

std::vector<WVPluginBase::PluginClass> WVPluginBase::allClasses() {
    auto& list = registeredPlugins();
    std::lock_guard lock(list.mutex);
    return list.classes;
}

void WVPluginBase::addPlugin(PluginClass pluginClass) {
    auto& list = registeredPlugins();
    std::lock_guard lock(list.mutex);
    list.classes.push_back(std::move(pluginClass));
}

void WVPluginBase::setupWithBridgeWebviewInWindow(const std::shared_ptr<ScriptBridge>& bridge,
                                                  std::weak_ptr<void> webview,
                                                  std::weak_ptr<void> window) {
    for (const auto& pluginClass : allClasses())
        if (pluginClass.setup) pluginClass.setup(bridge, webview, window);
}

Value WVPluginBase::removeInvalidTypeOfObject(const Value& object) {
    switch (object.kind()) {
        case Value::Kind::Dictionary: {
            Value cleaned = foundation::Dictionary{};
            for (const auto& [key, member] : *object.dictionary())
                cleaned.set(key, removeInvalidTypeOfObject(member));
            return cleaned;
        }
        case Value::Kind::Array: {
            Value cleaned = foundation::Array{};
            for (const auto& member : *object.array())
                cleaned.append(removeInvalidTypeOfObject(member));
            return cleaned;
        }
        case Value::Kind::Boolean:
        case Value::Kind::Int64:
        case Value::Kind::UInt64:
        case Value::Kind::Double:
        case Value::Kind::String:
            return object;
        case Value::Kind::Date:
            return object.date()->secondsSince1970;
        default:
            return Value();
    }
}

void WVPluginBase::initialize() const {
    ConsoleLog("WVPluginBase initialize");
}
