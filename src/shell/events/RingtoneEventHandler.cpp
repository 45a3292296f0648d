#include "shell/events/RingtoneEventHandler.h"

#include <exception>
#include <string>

#include <fmt/format.h>

#include "foundation/Json.h"
#include "shell/plugins/PageValues.h"

using foundation::Value;

namespace {

Value failure(const std::string& error) {
    return Value::dict({{"result", false}, {"error", error}});
}

std::string textOf(const Value& value) {
    const std::string* text = value.string();
    return text ? *text : std::string();
}

// "description (suggestion)"; an error without a suggestion shows "(null)" in the brackets,
// so the page's text has the one shape whatever the converter gave.
std::string failureText(const std::optional<foundation::Error>& error) {
    if (!error) return "error occurred during converting ringtones.";
    return fmt::format("{} ({})", error->message,
                       PageValues::description(error->userInfo["NSLocalizedRecoverySuggestion"]));
}

}  // namespace

WVEventPlugin::HandlerClass RingtoneEventHandler::handlerClass(AudioConverterService converter) {
    return {"RingtoneEventHandler",
            [converter] { return std::make_shared<RingtoneEventHandler>(converter); }};
}

void RingtoneEventHandler::handleRequestEventPluginCallback(const Value& request,
                                                            const std::shared_ptr<WVEventPlugin>&,
                                                            WVBridgeResponseCallback callback) {
    const Value& cmdValue = request["cmd"];
    const std::string cmd = textOf(cmdValue);
    const Value& data = request["data"];
    Value answer;
    if (cmd != "get-meta" && cmd != "convert") {
        answer = failure(
            fmt::format("unhandled ringtone command: {}", PageValues::description(cmdValue)));
    } else if (!data.isDictionary()) {
        answer = failure("no request data provided");
    } else if (cmd == "get-meta") {
        answer = getMeta(data);
    } else {
        answer = convert(data);
    }
    if (callback) callback(answer);
}

Value RingtoneEventHandler::getMeta(const Value& data) const {
    const std::string* info = data["info"].string();
    if (!info) return failure("Unknown info format!");
    try {
        return Value::dict({{"result", true}, {"data", converter_.getAudioTagInfoOfFile(*info)}});
    } catch (const std::exception& e) {
        return failure(e.what());
    }
}

Value RingtoneEventHandler::convert(const Value& data) const {
    const std::string source = textOf(data["source"]);
    const std::string destination = textOf(data["dest"]);
    const std::string title = textOf(data["title"]);
    const bool hasStart = !data["start"].isNil();
    const bool hasEnd = !data["end"].isNil();
    // Numbers, or texts that hold one ("10"), as the page sends them.
    const double start = PageValues::doubleValue(data["start"]).value_or(0);
    const double end = PageValues::doubleValue(data["end"]).value_or(0);

    std::optional<foundation::Error> error;
    const bool converted =
        hasStart || hasEnd ? converter_.convertToM4R(source, destination, start, end, title, &error)
                           : converter_.convertToM4A(source, destination, &error);
    return converted ? Value::dict({{"result", true}}) : failure(failureText(error));
}
