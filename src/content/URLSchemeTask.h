#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

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
    void didFailWithError(const foundation::Error& error) override;

    // Cuts the road to the protocol when it goes away; later sends do nothing. Waits for
    // a client call under way on another thread; from inside a client call (a client
    // that releases its protocol there) it returns at once.
    void detach();

private:
    // Calls `call` with the protocol and client, off the lock, unless detached.
    void callClient(const std::function<void(MyURLProtocol&, URLProtocolClient&)>& call);

    URLRequest request_;
    std::mutex lock_;
    std::condition_variable callEnded_;
    MyURLProtocol* protocol_;
    std::shared_ptr<URLProtocolClient> client_;
    std::vector<std::thread::id> callers_;  // one entry per client call under way
};

}  // namespace content
