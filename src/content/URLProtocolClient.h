#pragma once

#include <span>

#include "content/MyHttpURLResponse.h"
#include "foundation/Error.h"

namespace content {

class MyURLProtocol;

// How native code that reads "myapp" URLs without a browser view receives the answer.
class URLProtocolClient {
public:
    enum class CacheStoragePolicy { Allowed = 0, AllowedInMemoryOnly = 1, NotAllowed = 2 };

    virtual ~URLProtocolClient() = default;
    virtual void didReceiveResponse(MyURLProtocol& protocol, const HTTPURLResponse& response,
                                    CacheStoragePolicy policy) = 0;
    virtual void didLoadData(MyURLProtocol& protocol, std::span<const std::uint8_t> data) = 0;
    virtual void didFinishLoading(MyURLProtocol& protocol) = 0;
    // In place of didFinishLoading when the body broke off: what came is not the content.
    virtual void didFailWithError(MyURLProtocol& protocol, const foundation::Error& error) = 0;
};

}  // namespace content
