#pragma once

#include <memory>

#include "shell/plugins/WVPluginBase.h"

// The "applog" page plugin: the page writes lines into the application's own log, at
// {"level": 0 debug, 1 info, 2 warning, 3 error, "message": text}, subject to the
// program-wide log level like every native line.
class WVAppLogPlugin : public WVPluginBase {
public:
    static constexpr const char* kJSAppLogNotification = "kJSAppLogNotification";

    static std::shared_ptr<WVAppLogPlugin> create(const std::shared_ptr<ScriptBridge>& bridge,
                                                  std::weak_ptr<void> webview,
                                                  std::weak_ptr<void> window);
    static PluginClass pluginClass();
    // One instance for the whole process, made by the first call only.
    static void setupWithBridgeWebviewInWindow(const std::shared_ptr<ScriptBridge>& bridge,
                                               std::weak_ptr<void> webview,
                                               std::weak_ptr<void> window);

    using WVPluginBase::WVPluginBase;

    // A value reduced to what a property list can hold (byte buffers included); nothing of
    // ours calls it.
    static foundation::Value validValue(const foundation::Value& object);

protected:
    void OnJSNotification(const foundation::Notification& notification) override;
};
