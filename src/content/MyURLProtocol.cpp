#include "content/MyURLProtocol.h"
#include "foundation/ConsolePrint.h"

#include <string_view>

#include <fmt/format.h>

namespace content {

MyURLProtocol::MyURLProtocol(URLRequest request, std::shared_ptr<URLProtocolClient> client)
    : request_(std::move(request)), client_(std::move(client)) {}

MyURLProtocol::~MyURLProtocol() {
    // A responder may still be running on the pool; it must not reach a gone protocol.
    if (task_) task_->detach();
}

bool MyURLProtocol::canInitWithRequest(const URLRequest& request) {
    return !request.allHTTPHeaderFields.contains(kHandledKey) && request.url.scheme() == "myapp";
}

void MyURLProtocol::startLoading() {
    task_ = URLSchemeTask::schemeTaskWithURLRequestProtocolClient(request_, this, client_);
    foundation::printToConsole("method: {}\n", request_.httpMethod);
    foundation::printToConsole("request Headers: {}\n", describeHeaders(request_.allHTTPHeaderFields));
    foundation::printToConsole("request data: {}\n",
               std::string_view(reinterpret_cast<const char*>(request_.httpBody.data()),
                                request_.httpBody.size()));
    handler_ = std::make_unique<CustomSchemeHandler>();
    handler_->startURLSchemeTask(task_);
}

void MyURLProtocol::stopLoading() {
    if (handler_ && task_) handler_->stopURLSchemeTask(task_);
}

void MyURLProtocol::connectionDidReceiveResponse(URLConnection*, const HTTPURLResponse& response) {
    client_->didReceiveResponse(*this, response, URLProtocolClient::CacheStoragePolicy::NotAllowed);
    response_ = std::make_unique<HTTPURLResponse>(response);
    mutableData_.clear();
}

void MyURLProtocol::connectionDidReceiveData(URLConnection*, std::span<const std::uint8_t> data) {
    client_->didLoadData(*this, data);
    mutableData_.insert(mutableData_.end(), data.begin(), data.end());
}

void MyURLProtocol::connectionDidFinishLoading(URLConnection*) {
    client_->didFinishLoading(*this);
}

void MyURLProtocol::connectionDidFailWithError(URLConnection*, const foundation::Error&) {}

}  // namespace content
