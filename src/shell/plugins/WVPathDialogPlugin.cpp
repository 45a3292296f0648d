#include "shell/plugins/WVPathDialogPlugin.h"

#include <fmt/format.h>

#include <exception>

#include "foundation/Error.h"
#include "foundation/MainQueue.h"
#include "logging/LogCall.h"
#include "platform/gtk/FileChooser.h"
#include "platform/gtk/Window.h"
#include "shell/plugins/PageValues.h"

using foundation::Value;

namespace {

std::optional<std::string> text(const Value& value) {
    if (const std::string* string = value.string()) return *string;
    return std::nullopt;
}

gtk::FileChooser::Options chooserOptions(const Value& data) {
    gtk::FileChooser::Options options;
    options.save = PageValues::boolValue(data["save"]);
    if (options.save) {
        options.filename = text(data["filename"]);
    } else {
        options.folders = PageValues::boolValue(data["folder"]);
        options.multiple = PageValues::boolValue(data["multiple"]);
    }
    options.prompt = text(data["prompt"]);
    options.caption = text(data["caption"]);
    options.createFolders = PageValues::boolValue(data["newfolder"]);
    if (const auto* filters = data["filter"].array()) {
        for (const auto& filter : *filters) {
            const Value& extension = filter["ext"];
            if (!extension.isString() || extension.string()->empty()) {
                throw foundation::NamedException(
                    "NSInvalidArgumentException",
                    "every \"filter\" entry needs a file-name extension in \"ext\"");
            }
            options.extensions.push_back(*extension.string());
        }
    }
    return options;
}

}  // namespace

std::shared_ptr<WVPathDialogPlugin> WVPathDialogPlugin::create(
    const std::shared_ptr<ScriptBridge>& bridge, std::weak_ptr<void> webview,
    std::weak_ptr<void> window) {
    auto plugin =
        std::make_shared<WVPathDialogPlugin>(bridge, std::move(webview), std::move(window));
    plugin->listen("dialog", kJSFileDialogNotification);
    return plugin;
}

WVPluginBase::PluginClass WVPathDialogPlugin::pluginClass() {
    return {"WVPathDialogPlugin",
            [](const std::shared_ptr<ScriptBridge>& bridge, std::weak_ptr<void> webview,
               std::weak_ptr<void> window) {
                return std::shared_ptr<WVPluginBase>(
                    create(bridge, std::move(webview), std::move(window)));
            },
            setupWithBridgeWebviewInWindow};
}

void WVPathDialogPlugin::setupWithBridgeWebviewInWindow(const std::shared_ptr<ScriptBridge>& bridge,
                                                        std::weak_ptr<void> webview,
                                                        std::weak_ptr<void> window) {
    setupShared<WVPathDialogPlugin>(bridge, std::move(webview), std::move(window));
}

void WVPathDialogPlugin::OnJSNotification(const foundation::Notification& notification) {
    if (!foundation::MainQueue::isMainThread()) {
        foundation::MainQueue::sync([&] { OnJSNotification(notification); });
        return;
    }
    const Value& data = messageData(notification);
    WVBridgeResponseCallback reply = replyBlock(notification);
    try {
        const Value& cmd = data["cmd"];
        if (cmd != Value("choose-file")) {
            if (reply)
                reply(Value::dict(
                    {{"result", false},
                     {"error",
                      fmt::format("unhandled command: {}", PageValues::description(cmd))}}));
            return;
        }
        const auto options = chooserOptions(data);
        auto window = std::static_pointer_cast<gtk::Window>(this->window());
        const bool save = options.save;
        gtk::FileChooser::begin(
            window ? window->gtkWindow() : nullptr, options,
            [reply, save](std::optional<std::vector<std::string>> paths) {
                if (!reply) return;
                if (!paths || (save && paths->empty())) {
                    reply(Value::dict({{"result", false}}));
                    return;
                }
                Value path;
                if (save) {
                    path = paths->front();
                } else {
                    path = foundation::Array{};
                    for (auto& chosen : *paths) path.append(std::move(chosen));
                }
                reply(Value::dict({{"result", true}, {"path", path}}));
            });
    } catch (const std::exception& e) {
        const auto* named = dynamic_cast<const foundation::NamedException*>(&e);
        const std::string description = named ? named->reason() : e.what();
        LogError("{}", description);
        if (reply)
            reply(Value::dict({{"result", false},
                               {"error", fmt::format("CRITICAL Exception: {}", description)}}));
    }
}
