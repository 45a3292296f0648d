#pragma once

#include <string>

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
};

}  // namespace content
