#include "content/URLSchemeTask.h"

namespace content {

std::shared_ptr<URLSchemeTask> URLSchemeTask::schemeTaskWithURLRequestProtocolClient(
    URLRequest request, MyURLProtocol* protocol, std::shared_ptr<URLProtocolClient> client) {
    return std::make_shared<URLSchemeTask>(std::move(request), protocol, std::move(client));
}

URLSchemeTask::URLSchemeTask(URLRequest request, MyURLProtocol* protocol,
                             std::shared_ptr<URLProtocolClient> client)
    : request_(std::move(request)), protocol_(protocol), client_(std::move(client)) {}

void URLSchemeTask::detach() {
    std::lock_guard guard(lock_);
    protocol_ = nullptr;
}

void URLSchemeTask::didReceiveResponse(const HTTPURLResponse& response) {
    std::lock_guard guard(lock_);
    if (protocol_ && client_) {
        client_->didReceiveResponse(*protocol_, response,
                                    URLProtocolClient::CacheStoragePolicy::NotAllowed);
    }
}

void URLSchemeTask::didReceiveData(std::span<const std::uint8_t> data) {
    std::lock_guard guard(lock_);
    if (protocol_ && client_) client_->didLoadData(*protocol_, data);
}

void URLSchemeTask::didFinish() {
    std::lock_guard guard(lock_);
    if (protocol_ && client_) client_->didFinishLoading(*protocol_);
}

}  // namespace content
