#pragma once

#include <memory>

#include "content/CustomSchemeHandler.h"
#include "content/URLProtocolClient.h"
#include "content/URLSchemeTask.h"

namespace content {

// Reads "myapp" URLs for native code that has no browser view (an audio source given as
// such a URL, for one): the request goes through the same responders as the page's.
class MyURLProtocol {
public:
    MyURLProtocol(URLRequest request, std::shared_ptr<URLProtocolClient> client);
    ~MyURLProtocol();
    MyURLProtocol(const MyURLProtocol&) = delete;
    MyURLProtocol& operator=(const MyURLProtocol&) = delete;

    // Requests under "myapp" (any letter case) that are not marked as handled already.
    static bool canInitWithRequest(const URLRequest& request);
    static const URLRequest& canonicalRequestForRequest(const URLRequest& request) {
        return request;
    }
    // The header a request carries once a protocol has taken it.
    static constexpr const char* kHandledKey = "MyURLProtocolHandledKey";

    void startLoading();
    void stopLoading();

private:
    URLRequest request_;
    std::shared_ptr<URLProtocolClient> client_;
    std::shared_ptr<URLSchemeTask> task_;
    std::unique_ptr<CustomSchemeHandler> handler_;
};

}  // namespace content
