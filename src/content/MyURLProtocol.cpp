#include "content/MyURLProtocol.h"

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
    fmt::print(stderr, "method: {}\n", request_.httpMethod);
    fmt::print(stderr, "request Headers: {}\n", describeHeaders(request_.allHTTPHeaderFields));
    fmt::print(stderr, "request data: {}\n",
               std::string_view(reinterpret_cast<const char*>(request_.httpBody.data()),
                                request_.httpBody.size()));
    handler_ = std::make_unique<CustomSchemeHandler>();
    handler_->startURLSchemeTask(task_);
}

void MyURLProtocol::stopLoading() {
    if (handler_ && task_) handler_->stopURLSchemeTask(task_);
}

}  // namespace content
