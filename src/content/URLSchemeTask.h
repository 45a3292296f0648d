#pragma once

#include <memory>
#include <mutex>

#include "content/SchemeTask.h"
#include "content/URLProtocolClient.h"

namespace content {

// A scheme task over a URL-protocol client: what the responders send is passed on to the
// client, with the protocol as the first argument and no caching allowed.
class URLSchemeTask : public SchemeTask {
public:
    static std::shared_ptr<URLSchemeTask> schemeTaskWithURLRequestProtocolClient(
        URLRequest request, MyURLProtocol* protocol, std::shared_ptr<URLProtocolClient> client);

    URLSchemeTask(URLRequest request, MyURLProtocol* protocol,
                  std::shared_ptr<URLProtocolClient> client);

    const URLRequest& request() const override { return request_; }
    void didReceiveResponse(const HTTPURLResponse& response) override;
    void didReceiveData(std::span<const std::uint8_t> data) override;
    void didFinish() override;

    // Cuts the road to the protocol when it goes away; later sends do nothing.
    void detach();

private:
    URLRequest request_;
    std::mutex lock_;
    MyURLProtocol* protocol_;
    std::shared_ptr<URLProtocolClient> client_;
};

}  // namespace content
