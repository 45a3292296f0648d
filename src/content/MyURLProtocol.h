#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "content/CustomSchemeHandler.h"
#include "content/URLProtocolClient.h"
#include "content/URLSchemeTask.h"

namespace content {

// A connection reading a URL, as the connection callbacks name it; none is made here.
class URLConnection;

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

    // What a connection of the protocol's own would report. Nothing here opens one (the
    // request goes through the responders), so only a caller that reads the URL some other
    // way calls these: the answer is passed on to the client, uncached, and kept.
    void connectionDidReceiveResponse(URLConnection* connection, const HTTPURLResponse& response);
    void connectionDidReceiveData(URLConnection* connection, std::span<const std::uint8_t> data);
    void connectionDidFinishLoading(URLConnection* connection);
    void connectionDidFailWithError(URLConnection* connection, const foundation::Error& error);
    // The response and the body so far that the connection callbacks kept.
    const HTTPURLResponse* response() const { return response_.get(); }
    const foundation::Data& mutableData() const { return mutableData_; }

private:
    URLRequest request_;
    std::shared_ptr<URLProtocolClient> client_;
    std::shared_ptr<URLSchemeTask> task_;
    std::unique_ptr<CustomSchemeHandler> handler_;
    std::unique_ptr<HTTPURLResponse> response_;
    foundation::Data mutableData_;
};

}  // namespace content
