#include "shell/events/PasteboardEventHandler.h"

#include "foundation/MainQueue.h"
#include "platform/gtk/Clipboard.h"

using foundation::Value;

namespace {

Value failure(const char* error) {
    return Value::dict({{"result", false}, {"error", error}});
}

}  // namespace

WVEventPlugin::HandlerClass PasteboardEventHandler::handlerClass() {
    return {"PasteboardEventHandler", [] { return std::make_shared<PasteboardEventHandler>(); }};
}

void PasteboardEventHandler::handleRequestEventPluginCallback(const Value& request,
                                                              const std::shared_ptr<WVEventPlugin>&,
                                                              WVBridgeResponseCallback callback) {
    auto reply = [callback](const Value& answer) {
        if (callback) callback(answer);
    };
    const std::string cmd = request["cmd"].stringOr();
    if (cmd == "read") {
        foundation::MainQueue::async([reply] {
            gtk::Clipboard::requestFilePaths([reply](std::vector<std::string> paths) {
                if (paths.empty()) {
                    reply(Value::dict({{"result", false}}));
                    return;
                }
                Value list = foundation::Array{};
                for (auto& path : paths) list.append(std::move(path));
                reply(Value::dict({{"result", true}, {"data", list}}));
            });
        });
    } else if (cmd == "clear") {
        foundation::MainQueue::async([reply] {
            gtk::Clipboard::clear();
            reply(Value::dict({{"result", true}}));
        });
    } else if (cmd == "write") {
        const Value& data = request["data"];
        const Value& value = data["value"];
        if (value.isNil()) {
            reply(failure("missing value field"));
        } else if (data["type"].stringOr() != "text" || !data["type"].isString()) {
            reply(failure("not implement yet"));
        } else if (!value.isString()) {
            reply(failure("value is not text"));
        } else {
            foundation::MainQueue::async([reply, text = *value.string()] {
                gtk::Clipboard::setText(text);
                reply(Value::dict({{"result", true}}));
            });
        }
    } else {
        reply(failure("unhandled pasteboard command"));
    }
}
