#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "content/HttpHeaderFields.h"
#include "foundation/Url.h"
#include "foundation/Value.h"

namespace content {

// A request as the browser view or native code hands it to the scheme handler.
struct URLRequest {
    foundation::Url url;
    std::string httpMethod = "GET";
    HttpHeaderFields allHTTPHeaderFields;
    foundation::Data httpBody;
    // The address of the page whose browser view asks (the document it shows), whatever
    // the request's header fields say; none for a request of native code.
    std::optional<std::string> pageURL;
};

// The body as text for the console, without copying it.
inline std::string_view bodyText(const URLRequest& request) {
    return {reinterpret_cast<const char*>(request.httpBody.data()), request.httpBody.size()};
}

}  // namespace content
