#pragma once

#include <memory>

#include "foundation/UserDefaults.h"
#include "shell/plugins/WVPluginBase.h"

// The "userdefaults" page plugin: the page reads and writes plain preference keys, and the
// entries of one dictionary kept under the key "prefs" as a binary property list.
//   {"cmd": "read", "keys": [...]} or {"cmd": "read", "prefsKey": key}
//   {"cmd": "write", "values": [{key: value}, ...]} or
//   {"cmd": "write", "prefsKey": {"key": key, "value": value}}
class WVUserDefaultsPlugin : public WVPluginBase {
public:
    static constexpr const char* kJSUserDefaultsNotification = "kJSUserDefaultsNotification";

    // Over the application's preferences unless other defaults are given.
    static std::shared_ptr<WVUserDefaultsPlugin> create(
        const std::shared_ptr<ScriptBridge>& bridge, std::weak_ptr<void> webview,
        std::weak_ptr<void> window,
        foundation::UserDefaults& defaults = foundation::UserDefaults::standard());
    static PluginClass pluginClass();
    // One instance for the whole process, made by the first call only.
    static void setupWithBridgeWebviewInWindow(const std::shared_ptr<ScriptBridge>& bridge,
                                               std::weak_ptr<void> webview,
                                               std::weak_ptr<void> window);

    // The value in a form that can travel to the page as JSON, or nil: containers member
    // by member (members giving nil left out), dates as seconds since 1970, text, booleans
    // and finite numbers unchanged; byte buffers, null, NaN and infinities give nil.
    static foundation::Value validValue(const foundation::Value& object);

    WVUserDefaultsPlugin(const std::shared_ptr<ScriptBridge>& bridge, std::weak_ptr<void> webview,
                         std::weak_ptr<void> window, foundation::UserDefaults& defaults);

protected:
    void OnJSNotification(const foundation::Notification& notification) override;

private:
    foundation::Value read(const foundation::Value& request) const;
    foundation::Value write(const foundation::Value& request);
    foundation::Value writePrefsEntry(const foundation::Value& entry);

    foundation::UserDefaults& defaults_;
};
