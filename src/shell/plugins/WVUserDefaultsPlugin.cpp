#include "shell/plugins/WVUserDefaultsPlugin.h"

#include <strings.h>
#include <cmath>
#include <string>

#include "foundation/PropertyList.h"
#include "logging/LogCall.h"
#include "shell/plugins/PageValues.h"

using foundation::Value;

namespace {

constexpr const char* kPrefsKey = "prefs";

Value failure(const std::string& error) {
    return Value::dict({{"result", false}, {"error", error}});
}

bool equalsIgnoringCase(const std::string& a, const char* b) {
    return strcasecmp(a.c_str(), b) == 0;
}

}  // namespace

WVUserDefaultsPlugin::WVUserDefaultsPlugin(const std::shared_ptr<ScriptBridge>& bridge,
                                           std::weak_ptr<void> webview, std::weak_ptr<void> window,
                                           foundation::UserDefaults& defaults)
    : WVPluginBase(bridge, std::move(webview), std::move(window)), defaults_(defaults) {}

std::shared_ptr<WVUserDefaultsPlugin> WVUserDefaultsPlugin::create(
    const std::shared_ptr<ScriptBridge>& bridge, std::weak_ptr<void> webview,
    std::weak_ptr<void> window, foundation::UserDefaults& defaults) {
    auto plugin = std::make_shared<WVUserDefaultsPlugin>(bridge, std::move(webview),
                                                         std::move(window), defaults);
    plugin->listen("userdefaults", kJSUserDefaultsNotification);
    return plugin;
}

WVPluginBase::PluginClass WVUserDefaultsPlugin::pluginClass() {
    return {"WVUserDefaultsPlugin",
            [](const std::shared_ptr<ScriptBridge>& bridge, std::weak_ptr<void> webview,
               std::weak_ptr<void> window) {
                return std::shared_ptr<WVPluginBase>(
                    create(bridge, std::move(webview), std::move(window)));
            },
            setupWithBridgeWebviewInWindow};
}

void WVUserDefaultsPlugin::setupWithBridgeWebviewInWindow(
    const std::shared_ptr<ScriptBridge>& bridge, std::weak_ptr<void> webview,
    std::weak_ptr<void> window) {
    setupShared<WVUserDefaultsPlugin>(bridge, std::move(webview), std::move(window));
}

Value WVUserDefaultsPlugin::validValue(const Value& object) {
    return PageValues::validValue(object, false);
}

void WVUserDefaultsPlugin::OnJSNotification(const foundation::Notification& notification) {
    const Value& data = messageData(notification);
    WVBridgeResponseCallback reply = replyBlock(notification);
    Value answer;
    if (!data.isDictionary()) {
        answer = failure("invalid settings data.");
    } else if (const Value& cmd = data["cmd"];
               cmd.isNil() || (cmd.isString() && equalsIgnoringCase(*cmd.string(), "read"))) {
        answer = read(data);
    } else if (cmd.isString() && equalsIgnoringCase(*cmd.string(), "write")) {
        answer = write(data);
        defaults_.synchronize();
    } else {
        answer = failure("Unknown command");
    }
    if (!answer.isNil() && reply) reply(answer);
}

Value WVUserDefaultsPlugin::read(const Value& request) const {
    if (const foundation::Array* keys = request["keys"].array()) {
        Value result = foundation::Dictionary{};
        for (const Value& key : *keys) {
            if (const std::string* name = key.string())
                result.set(*name, validValue(defaults_.objectForKey(*name)));
        }
        return Value::dict({{"result", true}, {"data", result}});
    }
    const std::string* prefsKey = request["prefsKey"].string();
    if (!prefsKey) return Value();

    std::optional<foundation::Data> stored = defaults_.dataForKey(kPrefsKey);
    if (!stored) return Value::dict({{"result", false}});
    std::string error;
    std::optional<Value> prefs = foundation::plist::read(*stored, &error);
    if (!prefs) return failure(error.empty() ? "unknown error" : error);
    Value value = validValue((*prefs)[*prefsKey]);
    if (value.isNil()) return failure("invalid data format");
    return Value::dict({{"result", true}, {"data", value}});
}

Value WVUserDefaultsPlugin::write(const Value& request) {
    if (const foundation::Array* values = request["values"].array()) {
        for (const Value& element : *values) {
            const foundation::Dictionary* entry = element.dictionary();
            if (!entry || entry->empty()) continue;
            const auto& [key, value] = *entry->begin();
            std::string error;
            // A value a property list cannot hold (null) is left out; stored, it would
            // make every later save of the preferences fail.
            if (!defaults_.setObject(key, value, &error))
                LogWarn("userdefaults: \"{}\" not stored: {}", key, error);
        }
        return Value();
    }
    const Value& entry = request["prefsKey"];
    if (!entry.isDictionary()) return failure("invalid request data");
    return writePrefsEntry(entry);
}

Value WVUserDefaultsPlugin::writePrefsEntry(const Value& entry) {
    const Value& key = entry["key"];
    const Value& value = entry["value"];
    if (!key.isString() || value.isNil()) return failure("Invalid request prefs data");

    // Stored bytes that do not decode are replaced; a decoded store that is not a
    // dictionary is not overwritten.
    Value prefs = foundation::Dictionary{};
    if (std::optional<foundation::Data> stored = defaults_.dataForKey(kPrefsKey)) {
        if (std::optional<Value> decoded = foundation::plist::read(*stored)) prefs = *decoded;
    }
    if (!prefs.isDictionary()) return failure("failed to read prefs");

    prefs.set(*key.string(), value);
    std::string error;
    std::optional<foundation::Data> encoded = foundation::plist::writeBinary(prefs, &error);
    if (!encoded) return failure(error);
    defaults_.setObject(kPrefsKey, std::move(*encoded));
    return Value();
}
