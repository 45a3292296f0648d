#pragma once

#include <optional>
#include <string_view>

#include "content/CustomSchemeHandler.h"

namespace content {

// A responder for trying the scheme from the page: "/ajax" answers a fixed text.
class DynamicResponse : public RequestResponseHandler {
public:
    static ResponderClass responderClass();
    static std::optional<std::string> uri() { return "/ajax"; }
    // Whether a path names "/ajax" (the registry matches by path and never asks this).
    static bool test(std::string_view path);
    // Its answers carry no headers of their own.
    static std::optional<HttpHeaderFields> corsHeaders() { return std::nullopt; }

protected:
    bool implements(Operation) const override { return true; }
    std::shared_ptr<HTTPURLResponse> headResponse(const URLRequest&, SchemeTask&) override;
    std::shared_ptr<HTTPURLResponse> getResponse(const URLRequest&, SchemeTask&) override;
    std::shared_ptr<HTTPURLResponse> postResponse(const URLRequest&, SchemeTask&) override;
};

}  // namespace content
