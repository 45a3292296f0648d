#pragma once

#include <memory>

#include "shell/plugins/WVPluginBase.h"

// The "fs" page plugin: the computer's own files. Existence tests, free names for new
// items, removing files, making and listing folders, the user's common folders, and file
// contents in Base64 pieces. Each request is served on the background pool, several at once,
// and answered once; paths are used exactly as the page gives them.
class WVLocalFilesystemPlugin : public WVPluginBase {
public:
    static constexpr const char* kJSLocalFilesystemNotification = "kJSLocalFilesystemNotification";

    static std::shared_ptr<WVLocalFilesystemPlugin> create(
        const std::shared_ptr<ScriptBridge>& bridge, std::weak_ptr<void> webview,
        std::weak_ptr<void> window);
    static PluginClass pluginClass();
    // One instance for the whole process, made by the first call only.
    static void setupWithBridgeWebviewInWindow(const std::shared_ptr<ScriptBridge>& bridge,
                                               std::weak_ptr<void> webview,
                                               std::weak_ptr<void> window);

    // Serves one request {"cmd", arguments...} on the calling thread; `reply` may be empty,
    // and then the command runs unanswered.
    static void process(const foundation::Value& request, const WVBridgeResponseCallback& reply);

    using WVPluginBase::WVPluginBase;

protected:
    void OnJSNotification(const foundation::Notification& notification) override;
};
