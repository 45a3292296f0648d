#include "content/URLSchemeTask.h"

#include <algorithm>

namespace content {

std::shared_ptr<URLSchemeTask> URLSchemeTask::schemeTaskWithURLRequestProtocolClient(
    URLRequest request, MyURLProtocol* protocol, std::shared_ptr<URLProtocolClient> client) {
    return std::make_shared<URLSchemeTask>(std::move(request), protocol, std::move(client));
}

URLSchemeTask::URLSchemeTask(URLRequest request, MyURLProtocol* protocol,
                             std::shared_ptr<URLProtocolClient> client)
    : request_(std::move(request)), protocol_(protocol), client_(std::move(client)) {}

void URLSchemeTask::detach() {
    std::unique_lock guard(lock_);
    protocol_ = nullptr;
    const auto self = std::this_thread::get_id();
    callEnded_.wait(guard, [&] {
        return std::all_of(callers_.begin(), callers_.end(),
                           [&](std::thread::id caller) { return caller == self; });
    });
}

void URLSchemeTask::callClient(
    const std::function<void(MyURLProtocol&, URLProtocolClient&)>& call) {
    MyURLProtocol* protocol;
    {
        std::lock_guard guard(lock_);
        if (!protocol_ || !client_) return;
        protocol = protocol_;
        callers_.push_back(std::this_thread::get_id());
    }
    struct EndCall {
        URLSchemeTask& task;
        ~EndCall() {
            std::lock_guard guard(task.lock_);
            task.callers_.erase(
                std::find(task.callers_.begin(), task.callers_.end(), std::this_thread::get_id()));
            task.callEnded_.notify_all();
        }
    } endCall{*this};
    call(*protocol, *client_);
}

void URLSchemeTask::didReceiveResponse(const HTTPURLResponse& response) {
    callClient([&](MyURLProtocol& protocol, URLProtocolClient& client) {
        client.didReceiveResponse(protocol, response,
                                  URLProtocolClient::CacheStoragePolicy::NotAllowed);
    });
}

void URLSchemeTask::didReceiveData(std::span<const std::uint8_t> data) {
    callClient([&](MyURLProtocol& protocol, URLProtocolClient& client) {
        client.didLoadData(protocol, data);
    });
}

void URLSchemeTask::didFinish() {
    callClient([&](MyURLProtocol& protocol, URLProtocolClient& client) {
        client.didFinishLoading(protocol);
    });
}

void URLSchemeTask::didFailWithError(const foundation::Error& error) {
    callClient([&](MyURLProtocol& protocol, URLProtocolClient& client) {
        client.didFailWithError(protocol, error);
    });
}

}  // namespace content
