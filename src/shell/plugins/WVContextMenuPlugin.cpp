#include "shell/plugins/WVContextMenuPlugin.h"

#include <gdk/gdk.h>

#include <algorithm>
#include <cmath>

#include "foundation/Json.h"
#include "foundation/MainQueue.h"
#include "logging/LogCall.h"
#include "platform/webkit/WebView.h"
#include "shell/plugins/PageValues.h"

using foundation::Value;

namespace {

bool isSeparatorTitle(const std::string& title) {
    return std::all_of(title.begin(), title.end(), [](char c) { return c == '-'; });
}

int coordinate(const Value& value) {
    const double number = PageValues::doubleValue(value).value_or(0);
    return int(std::clamp(std::trunc(number), -1e6, 1e6));
}

}  // namespace

std::shared_ptr<WVContextMenuPlugin> WVContextMenuPlugin::create(
    const std::shared_ptr<ScriptBridge>& bridge, std::weak_ptr<void> webview,
    std::weak_ptr<void> window) {
    auto plugin =
        std::make_shared<WVContextMenuPlugin>(bridge, std::move(webview), std::move(window));
    plugin->listen("contextmenu", kJSContextMenu);
    return plugin;
}

WVPluginBase::PluginClass WVContextMenuPlugin::pluginClass() {
    return {"WVContextMenuPlugin",
            [](const std::shared_ptr<ScriptBridge>& bridge, std::weak_ptr<void> webview,
               std::weak_ptr<void> window) {
                return std::shared_ptr<WVPluginBase>(
                    create(bridge, std::move(webview), std::move(window)));
            },
            setupWithBridgeWebviewInWindow};
}

void WVContextMenuPlugin::setupWithBridgeWebviewInWindow(
    const std::shared_ptr<ScriptBridge>& bridge, std::weak_ptr<void> webview,
    std::weak_ptr<void> window) {
    setupShared<WVContextMenuPlugin>(bridge, std::move(webview), std::move(window));
}

std::optional<std::uint64_t> WVContextMenuPlugin::keyEquivalentModifierMask(const Value& keyMask) {
    if (!keyMask.isDictionary()) return std::nullopt;
    std::uint64_t mask = 0;
    if (PageValues::boolValue(keyMask["shift"])) mask += kShiftKeyMask;
    if (PageValues::boolValue(keyMask["alt"])) mask += kAlternateKeyMask;
    if (PageValues::boolValue(keyMask["command"])) mask += kCommandKeyMask;
    if (PageValues::boolValue(keyMask["control"])) mask += kControlKeyMask;
    if (mask == 0) return std::nullopt;
    return mask;
}

unsigned WVContextMenuPlugin::desktopModifiers(std::uint64_t mask) {
    unsigned modifiers = 0;
    if (mask & kShiftKeyMask) modifiers |= GDK_SHIFT_MASK;
    if (mask & kAlternateKeyMask) modifiers |= GDK_MOD1_MASK;
    if (mask & (kCommandKeyMask | kControlKeyMask)) modifiers |= GDK_CONTROL_MASK;
    return modifiers;
}

std::vector<gtk::PopupMenu::Item> WVContextMenuPlugin::addItems(const Value& items) {
    std::vector<gtk::PopupMenu::Item> entries;
    const auto* list = items.array();
    if (!list) return entries;
    for (const auto& record : *list) {
        if (!record.isDictionary()) continue;
        if (!record["visible"].isNil() && !PageValues::boolValue(record["visible"])) continue;
        const std::string* title = record["title"].string();
        if (!title) {
            LogWarn("menu entry without a title: {}", foundation::json::write(record));
            continue;
        }
        gtk::PopupMenu::Item item;
        if (isSeparatorTitle(*title)) {
            item.separator = true;
            entries.push_back(std::move(item));
            continue;
        }
        item.title = *title;
        item.enabled = !PageValues::boolValue(record["disabled"]);
        item.tag = PageValues::integerValue(record["tag"]).value_or(0);
        item.id = record["id"].stringOr();
        item.key = record["key"].stringOr();
        const Value& checked = record["checked"];
        item.checked = (checked.isBool() || checked.isNumber()) && checked.toBool().value_or(false);
        item.tooltip = record["tooltip"].stringOr();
        item.keyModifiers =
            desktopModifiers(keyEquivalentModifierMask(record["keyMask"]).value_or(kCommandKeyMask));
        if (record["items"].isArray()) {
            item.hasSubmenu = true;
            item.items = addItems(record["items"]);
        }
        entries.push_back(std::move(item));
    }
    return entries;
}

void WVContextMenuPlugin::OnJSContextMenu(const foundation::Notification& notification) {
    if (!foundation::MainQueue::isMainThread()) {
        foundation::MainQueue::sync([&] { OnJSContextMenu(notification); });
        return;
    }
    const Value& data = messageData(notification);
    WVBridgeResponseCallback reply = replyBlock(notification);
    auto answer = [reply](const Value& value) {
        if (reply) reply(value);
    };
    const auto* items = data["items"].array();
    if (!items || items->empty()) {
        // A description without entries is the page's mistake; it is not answered.
        LogWarn("no items for menu: {}", PageValues::description(data["id"]));
        return;
    }
    auto entries = addItems(data["items"]);
    const bool anyItem = std::any_of(entries.begin(), entries.end(),
                                     [](const auto& entry) { return !entry.separator; });
    auto view = std::static_pointer_cast<webkit::WebView>(webview());
    if (!anyItem || !view) {
        // Entries all hidden or not records: no first item to place the menu by, so the
        // page hears back at once, as for a dismissed menu.
        LogWarn("no items for menu: {}", PageValues::description(data["id"]));
        answer(foundation::Dictionary{});
        return;
    }
    const Value& location = data["location"];
    // The view's coordinates run from its top left, as the page's do: nothing to convert.
    LogInfo("view flipped: {}", "Yes");
    gtk::PopupMenu::popup(view->widget(), coordinate(location["x"]), coordinate(location["y"]),
                          std::move(entries), [answer](const gtk::PopupMenu::Item* chosen) {
                              if (!chosen) {
                                  LogInfo("Popup menu cancelled.");
                                  answer(foundation::Dictionary{});
                                  return;
                              }
                              LogInfo("context menu selected: {} {}", chosen->tag, chosen->id);
                              answer(Value::dict({{"tag", chosen->tag}, {"id", chosen->id}}));
                          });
}
