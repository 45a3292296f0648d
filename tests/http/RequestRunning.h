#pragma once

#include <functional>
#include <memory>
#include <string>

#include "foundation/Url.h"
#include "http/NetHTTPRequest.h"

namespace httptest {

// The request's error code, 0 without an error.
inline int errorCode(const NetHTTPRequest& request) {
    return request.error() ? static_cast<int>(request.error()->code) : 0;
}

// A synchronous request for the URL, set up first, run to its end.
inline std::shared_ptr<NetHTTPRequest> run(const std::string& url,
                                           const std::function<void(NetHTTPRequest&)>& setup = {}) {
    auto request = NetHTTPRequest::requestWithURL(foundation::Url::parse(url));
    if (setup) setup(*request);
    request->startSynchronous();
    return request;
}

}  // namespace httptest
