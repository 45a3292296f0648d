#include "http/NetURLContents.h"

#include <fmt/format.h>

#include "http/NetHTTPRequest.h"

std::optional<foundation::Data> NetURLContents::read(const std::string& url, std::uint64_t limit,
                                                     std::string* reason) {
    auto fail = [&](std::string text) -> std::optional<foundation::Data> {
        if (reason) *reason = std::move(text);
        return std::nullopt;
    };
    auto request = NetHTTPRequest::requestWithURL(foundation::Url::parse(url));
    request->setMaximumResponseDataLength(limit);
    request->startSynchronous();
    if (const auto& error = request->error()) {
        // The client's errors name the kind; what went wrong is underneath.
        const std::string* underlying = error->userInfo["NSUnderlyingError"].string();
        return fail(underlying ? error->message + " (" + *underlying + ")" : error->message);
    }
    if (request->responseStatusCode() != 200) {
        return fail(
            fmt::format("the server answered with status {}", request->responseStatusCode()));
    }
    auto body = request->takeResponseData();
    if (!body) return fail("the body does not inflate");
    if (body->size() > limit) return fail(fmt::format("the body is larger than {} bytes", limit));
    return body;
}
