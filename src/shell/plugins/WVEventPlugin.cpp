#include "shell/plugins/WVEventPlugin.h"

#include <fmt/format.h>

#include <atomic>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <utility>

#include "content/ThreadPool.h"
#include "foundation/Error.h"
#include "foundation/Json.h"
#include "logging/LogCall.h"

using foundation::Value;

namespace {

struct HandlerRegistry {
    std::mutex mutex;
    std::map<std::string, WVEventPlugin::HandlerClass> classes;
};

HandlerRegistry& handlerRegistry() {
    static HandlerRegistry* const registry = new HandlerRegistry();
    return *registry;
}

// A handler that answers and then fails must not answer twice.
WVBridgeResponseCallback answeringOnce(WVBridgeResponseCallback callback) {
    if (!callback) return callback;
    auto answered = std::make_shared<std::atomic<bool>>(false);
    return [callback = std::move(callback), answered](const Value& reply) {
        if (!answered->exchange(true)) callback(reply);
    };
}

Value failure(const std::string& error) {
    return Value::dict({{"result", false}, {"error", error}});
}

std::string describe(const std::exception& e) {
    if (const auto* named = dynamic_cast<const foundation::NamedException*>(&e))
        return named->reason();
    return e.what();
}

void answerException(const WVBridgeResponseCallback& reply, const std::string& description) {
    LogError("{}", description);
    if (reply) reply(failure(fmt::format("CRITICAL Exception: {}", description)));
}

// Runs the handler, turning an exception into the page's "CRITICAL Exception" answer.
void runHandler(const std::shared_ptr<WVEventHandler>& handler, const Value& request,
                const std::shared_ptr<WVEventPlugin>& plugin,
                const WVBridgeResponseCallback& reply) {
    try {
        handler->handleRequestEventPluginCallback(request, plugin, reply);
    } catch (const std::exception& e) {
        answerException(reply, describe(e));
    } catch (...) {
        answerException(reply, "unknown exception");
    }
}

}  // namespace

std::shared_ptr<WVEventPlugin> WVEventPlugin::create(const std::shared_ptr<ScriptBridge>& bridge,
                                                     std::weak_ptr<void> webview,
                                                     std::weak_ptr<void> window) {
    auto plugin = std::make_shared<WVEventPlugin>(bridge, std::move(webview), std::move(window));
    plugin->listen("wvevent", kJSWVEventNotification);
    return plugin;
}

WVPluginBase::PluginClass WVEventPlugin::pluginClass() {
    return {"WVEventPlugin",
            [](const std::shared_ptr<ScriptBridge>& bridge, std::weak_ptr<void> webview,
               std::weak_ptr<void> window) {
                return std::shared_ptr<WVPluginBase>(
                    create(bridge, std::move(webview), std::move(window)));
            },
            setupWithBridgeWebviewInWindow};
}

void WVEventPlugin::setupWithBridgeWebviewInWindow(const std::shared_ptr<ScriptBridge>& bridge,
                                                   std::weak_ptr<void> webview,
                                                   std::weak_ptr<void> window) {
    setupShared<WVEventPlugin>(bridge, std::move(webview), std::move(window));
}

std::map<std::string, WVEventPlugin::HandlerClass> WVEventPlugin::handlers() {
    auto& registry = handlerRegistry();
    std::lock_guard lock(registry.mutex);
    return registry.classes;
}

void WVEventPlugin::addHandlerClassForEvent(HandlerClass handlerClass, const std::string& event) {
    auto& registry = handlerRegistry();
    std::lock_guard lock(registry.mutex);
    if (auto found = registry.classes.find(event); found != registry.classes.end()) {
        throw std::logic_error(
            fmt::format("handler for \"{}\" already exists: {}", event, found->second.name));
    }
    registry.classes.emplace(event, std::move(handlerClass));
}

std::shared_ptr<WVEventHandler> WVEventPlugin::handlerForEvent(const std::string& event) {
    std::function<std::shared_ptr<WVEventHandler>()> make;
    {
        auto& registry = handlerRegistry();
        std::lock_guard lock(registry.mutex);
        auto found = registry.classes.find(event);
        if (found == registry.classes.end()) return nullptr;
        make = found->second.make;
    }
    return make();
}

void WVEventPlugin::OnJSNotification(const foundation::Notification& notification) {
    const Value& eventRequest = messageData(notification);
    WVBridgeResponseCallback reply = answeringOnce(replyBlock(notification));
    if (!eventRequest.isDictionary()) {
        if (reply) reply(failure("invalid event request."));
        return;
    }
    const Value& eventName = eventRequest["event"];
    const std::string event = eventName.isString() ? *eventName.string()
                              : eventName.isNil()  ? std::string("(null)")
                                                   : foundation::json::write(eventName);
    try {
        auto handler = handlerForEvent(event);
        if (!handler) {
            if (reply) reply(failure(fmt::format("unhandled command: {}", event)));
            return;
        }
        auto self = std::static_pointer_cast<WVEventPlugin>(shared_from_this());
        const Value& request = eventRequest["data"];
        if (handler->requireMainThread()) {
            runHandler(handler, request, self, reply);
            return;
        }
        // The job keeps the handler, the request and the plugin until it has run.
        ThreadPool::addAsyncJobWithBlock(
            [handler, request, self, reply] { runHandler(handler, request, self, reply); });
    } catch (const std::exception& e) {
        answerException(reply, describe(e));
    } catch (...) {
        answerException(reply, "unknown exception");
    }
}
