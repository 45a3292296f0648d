#include "http/NetHTTPClientRequest.h"

#include "http/NetFailureText.h"

NetHTTPClientRequest::NetHTTPClientRequest(const std::string& url, bool form) {
    auto parsed = foundation::Url::parse(url);
    if (form) {
        form_ = NetFormDataRequest::requestWithURL(std::move(parsed));
        request_ = form_;
    } else {
        request_ = NetHTTPRequest::requestWithURL(std::move(parsed));
    }
}

HttpClientRequest::Maker NetHTTPClientRequest::maker() {
    return [](const std::string& url, bool form) {
        return std::make_unique<NetHTTPClientRequest>(url, form);
    };
}

void NetHTTPClientRequest::addRequestHeader(const std::string& name, const std::string& value) {
    request_->addRequestHeader(name, value);
}
void NetHTTPClientRequest::appendPostData(const foundation::Data& data) {
    request_->appendPostData(data);
}
void NetHTTPClientRequest::addPostValue(const foundation::Value& value, const std::string& key) {
    if (form_) form_->addPostValue(value, key);
}
void NetHTTPClientRequest::startSynchronous() {
    request_->startSynchronous();
}
int NetHTTPClientRequest::responseStatusCode() const {
    return request_->responseStatusCode();
}
std::optional<std::string> NetHTTPClientRequest::responseStatusMessage() const {
    return request_->responseStatusMessage();
}
std::optional<std::string> NetHTTPClientRequest::responseString() const {
    return request_->responseString();
}
std::optional<foundation::Data> NetHTTPClientRequest::responseData() const {
    return request_->responseData();
}
std::optional<std::string> NetHTTPClientRequest::errorDescription() const {
    const auto& error = request_->error();
    if (!error) return std::nullopt;
    // The connection went to the proxy when there was one.
    std::string host = request_->proxyHost();
    if (host.empty() || request_->proxyPort() == 0) {
        auto url = request_->url();
        host = url ? url->host() : "";
    }
    return NetFailureText::describe(*error, host);
}
