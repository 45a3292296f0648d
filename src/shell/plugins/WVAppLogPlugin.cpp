#include "shell/plugins/WVAppLogPlugin.h"

#include <charconv>
#include <cstdint>
#include <string>

#include "logging/LogCall.h"
#include "shell/plugins/PageValues.h"

using foundation::Value;

namespace {

// The level as a number object's or a text's integer value reads it: a text counts by
// its leading digits ("2" and " 2x" are 2), anything without one is 0.
std::int64_t levelOf(const Value& level) {
    if (auto number = level.toInt64()) return *number;
    const std::string* text = level.string();
    if (!text) return 0;
    std::size_t start = text->find_first_not_of(" \t\n\r");
    if (start == std::string::npos) return 0;
    if ((*text)[start] == '+') ++start;
    std::int64_t parsed = 0;
    std::from_chars(text->data() + start, text->data() + text->size(), parsed);
    return parsed;
}

}  // namespace

std::shared_ptr<WVAppLogPlugin> WVAppLogPlugin::create(const std::shared_ptr<ScriptBridge>& bridge,
                                                       std::weak_ptr<void> webview,
                                                       std::weak_ptr<void> window) {
    auto plugin = std::make_shared<WVAppLogPlugin>(bridge, std::move(webview), std::move(window));
    plugin->listen("applog", kJSAppLogNotification);
    return plugin;
}

WVPluginBase::PluginClass WVAppLogPlugin::pluginClass() {
    return {"WVAppLogPlugin",
            [](const std::shared_ptr<ScriptBridge>& bridge, std::weak_ptr<void> webview,
               std::weak_ptr<void> window) {
                return std::shared_ptr<WVPluginBase>(
                    create(bridge, std::move(webview), std::move(window)));
            },
            setupWithBridgeWebviewInWindow};
}

void WVAppLogPlugin::setupWithBridgeWebviewInWindow(const std::shared_ptr<ScriptBridge>& bridge,
                                                    std::weak_ptr<void> webview,
                                                    std::weak_ptr<void> window) {
    setupShared<WVAppLogPlugin>(bridge, std::move(webview), std::move(window));
}

void WVAppLogPlugin::OnJSNotification(const foundation::Notification& notification) {
    const Value& data = messageData(notification);
    if (!data.isDictionary()) {
        if (auto reply = replyBlock(notification))
            reply(Value::dict({{"result", false}, {"error", "invalid settings data."}}));
        return;
    }
    // The flag is tested before the text is made, as at every log call.
    switch (levelOf(data["level"])) {
        case 0:
            LogDebug("{}", PageValues::description(data["message"]));
            break;
        case 1:
            LogInfo("{}", PageValues::description(data["message"]));
            break;
        case 2:
            LogWarn("{}", PageValues::description(data["message"]));
            break;
        case 3:
            LogError("{}", PageValues::description(data["message"]));
            break;
        default:
            break;
    }
}

foundation::Value WVAppLogPlugin::validValue(const foundation::Value& object) {
    return PageValues::validValue(object, true);
}
