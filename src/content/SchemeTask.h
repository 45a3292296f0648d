#pragma once

#include <span>

#include "content/MyHttpURLResponse.h"
#include "content/URLRequest.h"
#include "foundation/Error.h"

namespace content {

// One request under the "myapp" scheme and the road back to whoever asked: the browser
// view's scheme request, or a native client reading through MyURLProtocol. The sends may
// come from any thread; an implementation hops where its receiver needs it.
class SchemeTask {
public:
    virtual ~SchemeTask() = default;
    virtual const URLRequest& request() const = 0;
    virtual void didReceiveResponse(const HTTPURLResponse& response) = 0;
    virtual void didReceiveData(std::span<const std::uint8_t> data) = 0;
    virtual void didFinish() = 0;
    // The body broke off after the head: the request failed and nothing more comes. A task
    // that does not take failures leaves its request unfinished, which fails it when the
    // task goes.
    virtual void didFailWithError(const foundation::Error& error) { (void)error; }
};

}  // namespace content
