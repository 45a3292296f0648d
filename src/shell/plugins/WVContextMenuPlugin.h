#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/gtk/PopupMenu.h"
#include "shell/plugins/WVPluginBase.h"

// The "contextmenu" page plugin: the page describes a menu as data, the plugin pops it up
// at a point of the browser view and replies {"tag", "id"} of the chosen item, or {} when
// the menu is dismissed. Each request is answered exactly once. Main thread.
//
// Key equivalents: "shift" and "alt" are Shift and Alt; "command" and "control" both show
// as Ctrl, the desktop's accelerator key. Without a mask the key shows with Ctrl, as the
// command key is the platform default.
class WVContextMenuPlugin : public WVPluginBase {
public:
    static constexpr const char* kJSContextMenu = "kJSContextMenu";
    static constexpr std::uint64_t kShiftKeyMask = 0x20000;
    static constexpr std::uint64_t kControlKeyMask = 0x40000;
    static constexpr std::uint64_t kAlternateKeyMask = 0x80000;
    static constexpr std::uint64_t kCommandKeyMask = 0x100000;

    static std::shared_ptr<WVContextMenuPlugin> create(const std::shared_ptr<ScriptBridge>& bridge,
                                                       std::weak_ptr<void> webview,
                                                       std::weak_ptr<void> window);
    static PluginClass pluginClass();
    // One instance for the whole process, made by the first call only.
    static void setupWithBridgeWebviewInWindow(const std::shared_ptr<ScriptBridge>& bridge,
                                               std::weak_ptr<void> webview,
                                               std::weak_ptr<void> window);

    // The entries of a description: records only, hidden ones and ones without a title
    // left out, titles of nothing but "-" made separators, "items" lists made submenus.
    static std::vector<gtk::PopupMenu::Item> addItems(const foundation::Value& items);
    // The modifier mask a "keyMask" record selects; nullopt when it selects none.
    static std::optional<std::uint64_t> keyEquivalentModifierMask(const foundation::Value& keyMask);
    // The same mask in the desktop's modifier bits.
    static unsigned desktopModifiers(std::uint64_t mask);

    using WVPluginBase::WVPluginBase;

    // Serves one "contextmenu" request: pops the menu up and answers once.
    void OnJSContextMenu(const foundation::Notification& notification);

protected:
    void OnJSNotification(const foundation::Notification& notification) override {
        OnJSContextMenu(notification);
    }
};
