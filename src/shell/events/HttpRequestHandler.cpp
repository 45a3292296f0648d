#include "shell/events/HttpRequestHandler.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <span>

#include "foundation/Base64.h"

using foundation::Value;

namespace {

std::string upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

Value failure(const std::string& error) {
    return Value::dict({{"result", false}, {"error", error}});
}

// Every request that was made answers true; the page tells success from failure by the
// status, and a failure of the client comes beside it in words.
Value success(Value data, const std::optional<std::string>& error) {
    Value answer = Value::dict({{"result", true}, {"data", std::move(data)}});
    if (error) answer.set("error", *error);
    return answer;
}

// A header value from the page: text as it is, a number in decimal; nullopt otherwise.
std::optional<std::string> headerText(const Value& value) {
    if (const auto* text = value.string()) return *text;
    if (const auto* number = value.int64()) return fmt::format("{}", *number);
    if (const auto* number = value.uint64()) return fmt::format("{}", *number);
    if (const auto* number = value.real()) return fmt::format("{}", *number);
    return std::nullopt;
}

}  // namespace

HttpRequestHandler::HttpRequestHandler(HttpClientRequest::Maker makeRequest)
    : makeRequest_(std::move(makeRequest)) {}

WVEventPlugin::HandlerClass HttpRequestHandler::handlerClass(HttpClientRequest::Maker makeRequest) {
    return {"HttpRequestHandler", [makeRequest = std::move(makeRequest)] {
                return std::make_shared<HttpRequestHandler>(makeRequest);
            }};
}

std::int64_t HttpRequestHandler::chunkSizeOf(const Value& chunksize) {
    if (!chunksize.isNumber()) return DefaultChunkSize;
    // The number's 32-bit integer value, as the page's numbers wrap.
    auto wide = chunksize.toInt64().value_or(0);
    auto value =
        static_cast<std::int64_t>(static_cast<std::int32_t>(static_cast<std::uint32_t>(wide)));
    return value < 0 ? -value : value;
}

void HttpRequestHandler::handleRequestEventPluginCallback(
    const Value& request, const std::shared_ptr<WVEventPlugin>& eventPlugin,
    WVBridgeResponseCallback callback) {
    auto reply = [&](const Value& answer) {
        if (callback) callback(answer);
    };
    const Value& data = request["data"];
    const Value& url = data["url"];
    if (!url.isString() || url.string()->empty()) return reply(failure("url is required."));

    std::string method = upper(data["method"].stringOr());
    if (method.empty()) method = "GET";
    const Value& header = data["header"];
    const Value& responseType = data["responseType"];
    bool asText = responseType.isNil() ||
                  (responseType.isString() && upper(*responseType.string()) == "TEXT");
    const Value& readerName = data["reader"];
    std::optional<std::string> reader;
    if (readerName.isString()) reader = *readerName.string();
    const Value& uid = data["uid"];
    std::int64_t chunkSize = chunkSizeOf(data["chunksize"]);

    // Only GET and POST go out: every other method is sent as a POST without a body.
    auto http = makeRequest_(*url.string(), method != "GET");
    if (const auto* headers = header.dictionary()) {
        for (const auto& [name, value] : *headers) {
            if (auto text = headerText(value)) http->addRequestHeader(name, *text);
        }
    }
    const Value& body = data["data"];
    if (method == "POST") {
        if (const auto* text = body.string()) {
            auto bytes = foundation::base64::decode(*text);
            if (!bytes) return reply(failure("data is not valid Base64."));
            http->appendPostData(*bytes);
        } else if (const auto* fields = body.dictionary()) {
            for (const auto& [key, value] : *fields) http->addPostValue(value, key);
        }
    }

    http->startSynchronous();
    int status = http->responseStatusCode();
    Value answer = Value::dict({{"status", status}});
    // From 201 up the answer carries the status line; the body is not returned.
    if (status > 200) {
        answer.set("message", http->responseStatusMessage().value_or(""));
        return reply(success(std::move(answer), http->errorDescription()));
    }
    if (asText) {
        answer.set("text", http->responseString().value_or(""));
        return reply(success(std::move(answer), http->errorDescription()));
    }
    // No answer at all (status 0) has an empty body.
    auto bytes =
        status == 0 ? std::optional<foundation::Data>(foundation::Data()) : http->responseData();
    auto error = http->errorDescription();
    if (!bytes) {
        // The request was answered: its status stands, with an empty body and the reason.
        bytes.emplace();
        if (!error) error = "The response body could not be read.";
    }
    answer.set("length", static_cast<std::uint64_t>(bytes->size()));
    if (!reader) {
        answer.set("data", foundation::base64::encode(*bytes));
        return reply(success(std::move(answer), error));
    }
    auto bridge = eventPlugin ? eventPlugin->wkbridge() : nullptr;
    if (bridge && chunkSize > 0) {
        std::span<const std::uint8_t> all(*bytes);
        for (std::size_t at = 0; at < all.size(); at += static_cast<std::size_t>(chunkSize)) {
            auto piece =
                all.subspan(at, std::min(all.size() - at, static_cast<std::size_t>(chunkSize)));
            Value chunk = Value::dict({{"data", foundation::base64::encode(piece)}});
            if (!uid.isNil()) chunk.set("uid", uid);
            bridge->callHandler(*reader, chunk);
        }
    }
    reply(success(std::move(answer), error));
}
