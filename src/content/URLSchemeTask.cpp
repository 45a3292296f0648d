#include "content/URLSchemeTask.h"

#include <algorithm>

namespace content {

std::shared_ptr<URLSchemeTask> URLSchemeTask::schemeTaskWithURLRequestProtocolClient(
    URLRequest request, MyURLProtocol* protocol, std::shared_ptr<URLProtocolClient> client) {
    return std::make_shared<URLSchemeTask>(std::move(request), protocol, std::move(client));
}

std::shared_ptr<URLSchemeTask> URLSchemeTask::schemeTaskWithWKURLSchemeTask(
    std::shared_ptr<SchemeTask> task) {
    return std::make_shared<URLSchemeTask>(std::move(task));
}

URLSchemeTask::URLSchemeTask(URLRequest request, MyURLProtocol* protocol,
                             std::shared_ptr<URLProtocolClient> client)
    : type_(Type::ProtocolClient), protocol_(protocol), client_(std::move(client)) {
    requests_.push_back(std::move(request));
}

URLSchemeTask::URLSchemeTask(std::shared_ptr<SchemeTask> task)
    : type_(Type::BrowserTask), task_(std::move(task)) {
    requests_.push_back(task_ ? task_->request() : URLRequest{});
}

const URLRequest& URLSchemeTask::request() const {
    std::lock_guard guard(lock_);
    return requests_.back();
}

void URLSchemeTask::setRequest(URLRequest request) {
    std::lock_guard guard(lock_);
    requests_.push_back(std::move(request));
}

std::shared_ptr<SchemeTask> URLSchemeTask::task() const {
    std::lock_guard guard(lock_);
    return task_;
}

void URLSchemeTask::setTask(std::shared_ptr<SchemeTask> task) {
    std::lock_guard guard(lock_);
    task_ = std::move(task);
}

std::shared_ptr<URLProtocolClient> URLSchemeTask::client() const {
    std::lock_guard guard(lock_);
    return client_;
}

void URLSchemeTask::setClient(std::shared_ptr<URLProtocolClient> client) {
    std::lock_guard guard(lock_);
    client_ = std::move(client);
}

MyURLProtocol* URLSchemeTask::proto() const {
    std::lock_guard guard(lock_);
    return protocol_;
}

void URLSchemeTask::setProto(MyURLProtocol* protocol) {
    std::lock_guard guard(lock_);
    protocol_ = protocol;
}

void URLSchemeTask::detach() {
    std::unique_lock guard(lock_);
    protocol_ = nullptr;
    task_.reset();  // later sends reach no browser task either
    const auto self = std::this_thread::get_id();
    callEnded_.wait(guard, [&] {
        return std::all_of(callers_.begin(), callers_.end(),
                           [&](std::thread::id caller) { return caller == self; });
    });
}

std::shared_ptr<SchemeTask> URLSchemeTask::browserTask() const {
    if (type_ != Type::BrowserTask) return nullptr;
    std::lock_guard guard(lock_);
    return task_;
}

void URLSchemeTask::callClient(
    const std::function<void(MyURLProtocol&, URLProtocolClient&)>& call) {
    if (type_ != Type::ProtocolClient) return;
    MyURLProtocol* protocol;
    std::shared_ptr<URLProtocolClient> client;
    {
        std::lock_guard guard(lock_);
        if (!protocol_ || !client_) return;
        protocol = protocol_;
        client = client_;
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
    call(*protocol, *client);
}

void URLSchemeTask::didReceiveResponse(const HTTPURLResponse& response) {
    if (const auto task = browserTask()) return task->didReceiveResponse(response);
    callClient([&](MyURLProtocol& protocol, URLProtocolClient& client) {
        client.didReceiveResponse(protocol, response,
                                  URLProtocolClient::CacheStoragePolicy::NotAllowed);
    });
}

void URLSchemeTask::didReceiveData(std::span<const std::uint8_t> data) {
    if (const auto task = browserTask()) return task->didReceiveData(data);
    callClient([&](MyURLProtocol& protocol, URLProtocolClient& client) {
        client.didLoadData(protocol, data);
    });
}

void URLSchemeTask::didFinish() {
    if (const auto task = browserTask()) return task->didFinish();
    callClient([&](MyURLProtocol& protocol, URLProtocolClient& client) {
        client.didFinishLoading(protocol);
    });
}

void URLSchemeTask::didFailWithError(const foundation::Error& error) {
    if (const auto task = browserTask()) return task->didFailWithError(error);
    callClient([&](MyURLProtocol& protocol, URLProtocolClient& client) {
        client.didFailWithError(protocol, error);
    });
}

}  // namespace content
