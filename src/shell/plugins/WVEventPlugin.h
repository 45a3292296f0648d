#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "shell/events/WVEventHandler.h"
#include "shell/plugins/WVPluginBase.h"

// The "wvevent" page plugin. The page names an event and a command within it,
// {"event": name, "data": {"cmd", "data"}}; the plugin makes a fresh instance of the
// handler class registered for the event name and runs it on the main thread or on the
// background pool, as the handler asks. Handler classes are registered at start-up; the
// plugin knows none of them by name.
class WVEventPlugin : public WVPluginBase {
public:
    static constexpr const char* kJSWVEventNotification = "kJSWVEventNotification";

    // A handler class as the registry keeps it.
    struct HandlerClass {
        std::string name;
        std::function<std::shared_ptr<WVEventHandler>()> make;
    };

    static std::shared_ptr<WVEventPlugin> create(const std::shared_ptr<ScriptBridge>& bridge,
                                                 std::weak_ptr<void> webview,
                                                 std::weak_ptr<void> window);
    static PluginClass pluginClass();
    // One instance for the whole process, made by the first call only.
    static void setupWithBridgeWebviewInWindow(const std::shared_ptr<ScriptBridge>& bridge,
                                               std::weak_ptr<void> webview,
                                               std::weak_ptr<void> window);

    // The process-wide registry, event name to handler class.
    static std::map<std::string, HandlerClass> handlers();
    // Throws std::logic_error when the event already has a class: a programming error.
    static void addHandlerClassForEvent(HandlerClass handlerClass, const std::string& event);
    // A fresh instance of the class registered for the event; nullptr when there is none.
    static std::shared_ptr<WVEventHandler> handlerForEvent(const std::string& event);

    using WVPluginBase::WVPluginBase;

protected:
    void OnJSNotification(const foundation::Notification& notification) override;
};
