#pragma once

#include <memory>
#include <string>

#include "http/NetFormDataRequest.h"
#include "http/NetHTTPRequest.h"
#include "shell/events/HttpClientRequest.h"

// The HTTP client as the "http" event handler drives it: a plain request, or a form
// request for every method other than GET.
class NetHTTPClientRequest : public HttpClientRequest {
public:
    NetHTTPClientRequest(const std::string& url, bool form);
    // The maker the process entry hands to the handler.
    static HttpClientRequest::Maker maker();

    void addRequestHeader(const std::string& name, const std::string& value) override;
    void appendPostData(const foundation::Data& data) override;
    void addPostValue(const foundation::Value& value, const std::string& key) override;
    void startSynchronous() override;
    int responseStatusCode() const override;
    std::optional<std::string> responseStatusMessage() const override;
    std::optional<std::string> responseString() const override;
    std::optional<foundation::Data> responseData() const override;
    std::optional<std::string> errorDescription() const override;

private:
    std::shared_ptr<NetHTTPRequest> request_;
    std::shared_ptr<NetFormDataRequest> form_;
};
