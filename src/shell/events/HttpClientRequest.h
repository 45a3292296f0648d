#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "foundation/Value.h"

// What the "http" event handler uses of the HTTP client: one request, carried out on the
// calling thread. The client layer implements it; the process entry hands its maker in.
class HttpClientRequest {
public:
    // A plain request for the URL text, or a form request (method "POST") when `form`.
    // A text that forms no URL still gives a request, which fails when it starts.
    using Maker =
        std::function<std::unique_ptr<HttpClientRequest>(const std::string& url, bool form)>;

    virtual ~HttpClientRequest() = default;
    virtual void addRequestHeader(const std::string& name, const std::string& value) = 0;
    virtual void appendPostData(const foundation::Data& data) = 0;
    virtual void addPostValue(const foundation::Value& value, const std::string& key) = 0;
    // Returns once the request is complete: answered, failed or timed out.
    virtual void startSynchronous() = 0;

    // 0 when no response arrived.
    virtual int responseStatusCode() const = 0;
    // "HTTP/1.1 200 OK"; nullopt when no response arrived.
    virtual std::optional<std::string> responseStatusMessage() const = 0;
    // The body in the response's text encoding; nullopt when it does not decode.
    virtual std::optional<std::string> responseString() const = 0;
    // The body, inflated when it came compressed; nullopt when it does not inflate.
    virtual std::optional<foundation::Data> responseData() const = 0;
    // Why the request failed, in words for people (the host and the reason of a connection
    // that could not be made); nullopt when it did not.
    virtual std::optional<std::string> errorDescription() const = 0;
};
