#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "content/SchemeTask.h"
#include "content/URLProtocolClient.h"

namespace content {

// One task over either road back: a browser view's own scheme task, to which the sends are
// passed on unchanged, or a URL-protocol client, which gets them with the protocol as the
// first argument and no caching allowed.
class URLSchemeTask : public SchemeTask {
public:
    // Over a URL-protocol client.
    static std::shared_ptr<URLSchemeTask> schemeTaskWithURLRequestProtocolClient(
        URLRequest request, MyURLProtocol* protocol, std::shared_ptr<URLProtocolClient> client);
    // Over a browser view's scheme task; its request is the adapter's.
    static std::shared_ptr<URLSchemeTask> schemeTaskWithWKURLSchemeTask(
        std::shared_ptr<SchemeTask> task);

    URLSchemeTask(URLRequest request, MyURLProtocol* protocol,
                  std::shared_ptr<URLProtocolClient> client);
    explicit URLSchemeTask(std::shared_ptr<SchemeTask> task);

    const URLRequest& request() const override;
    void didReceiveResponse(const HTTPURLResponse& response) override;
    void didReceiveData(std::span<const std::uint8_t> data) override;
    void didFinish() override;
    void didFailWithError(const foundation::Error& error) override;

    // What the adapter holds. A request set later leaves the one handed out before valid,
    // so a responder reading it meanwhile reads the old one whole.
    std::shared_ptr<SchemeTask> task() const;
    void setTask(std::shared_ptr<SchemeTask> task);
    std::shared_ptr<URLProtocolClient> client() const;
    void setClient(std::shared_ptr<URLProtocolClient> client);
    MyURLProtocol* proto() const;
    void setProto(MyURLProtocol* protocol);
    void setRequest(URLRequest request);

    // Cuts the road to the protocol when it goes away; later sends do nothing. Waits for
    // a client call under way on another thread; from inside a client call (a client
    // that releases its protocol there) it returns at once.
    void detach();

private:
    enum class Type { BrowserTask = 0, ProtocolClient = 1 };

    // Calls `call` with the protocol and client, off the lock, unless detached.
    void callClient(const std::function<void(MyURLProtocol&, URLProtocolClient&)>& call);
    // The browser task, or null for an adapter over a client.
    std::shared_ptr<SchemeTask> browserTask() const;

    const Type type_;
    mutable std::mutex lock_;
    std::condition_variable callEnded_;
    std::deque<URLRequest> requests_;  // the current one last
    std::shared_ptr<SchemeTask> task_;
    MyURLProtocol* protocol_ = nullptr;
    std::shared_ptr<URLProtocolClient> client_;
    std::vector<std::thread::id> callers_;  // one entry per client call under way
};

}  // namespace content
