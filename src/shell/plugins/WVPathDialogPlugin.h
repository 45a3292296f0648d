#pragma once

#include "shell/plugins/WVPluginBase.h"

// The "dialog" page plugin: asks the user for a file or folder path with an open or save
// panel attached to the plugin's window, and replies {"result": true, "path": ...} (a
// text for a save panel, a list for an open panel) or {"result": false} when cancelled.
// Main thread.
class WVPathDialogPlugin : public WVPluginBase {
public:
    static constexpr const char* kJSFileDialogNotification = "kJSFileDialogNotification";

    static std::shared_ptr<WVPathDialogPlugin> create(const std::shared_ptr<ScriptBridge>& bridge,
                                                      std::weak_ptr<void> webview,
                                                      std::weak_ptr<void> window);
    static PluginClass pluginClass();
    // One instance for the whole process, made by the first call only.
    static void setupWithBridgeWebviewInWindow(const std::shared_ptr<ScriptBridge>& bridge,
                                               std::weak_ptr<void> webview,
                                               std::weak_ptr<void> window);

    using WVPluginBase::WVPluginBase;

protected:
    void OnJSNotification(const foundation::Notification& notification) override;
};
