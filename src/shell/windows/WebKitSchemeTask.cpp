#include "shell/windows/WebKitSchemeTask.h"

#include <webkit2/webkit2.h>

#include <charconv>

#include <fmt/format.h>

#include "content/CustomSchemeHandler.h"

namespace {

std::optional<std::uint64_t> contentLength(const content::HttpHeaderFields& headers) {
    const auto text = headers.get("Content-Length");
    if (!text) return std::nullopt;
    std::uint64_t length = 0;
    const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), length);
    if (error != std::errc() || end != text->data() + text->size()) return std::nullopt;
    return length;
}

bool isHead(const std::string& method) {
    return method.size() == 4 && g_ascii_strncasecmp(method.c_str(), "HEAD", 4) == 0;
}

}  // namespace

std::shared_ptr<WebKitSchemeTask> WebKitSchemeTask::make(
    std::shared_ptr<webkit::SchemeRequest> platform) {
    auto url = foundation::Url::parse(platform->uri());
    if (!url) return nullptr;
    content::URLRequest request;
    request.url = std::move(*url);
    request.httpMethod = platform->method().empty() ? "GET" : platform->method();
    for (const auto& [name, value] : platform->headers()) {
        request.allHTTPHeaderFields.set(name, value);
    }
    request.httpBody = platform->body();
    request.pageURL = platform->pageURI();
    return std::shared_ptr<WebKitSchemeTask>(
        new WebKitSchemeTask(std::move(platform), std::move(request)));
}

WebKitSchemeTask::WebKitSchemeTask(std::shared_ptr<webkit::SchemeRequest> platform,
                                   content::URLRequest request)
    : platform_(std::move(platform)), request_(std::move(request)) {}

WebKitSchemeTask::~WebKitSchemeTask() {
    // Without a head the request itself fails when the platform request goes.
    if (body_) body_->fail("the answer was dropped unfinished");
}

void WebKitSchemeTask::didReceiveResponse(const content::HTTPURLResponse& response) {
    std::lock_guard guard(lock_);
    if (body_) return;  // one answer per request
    const bool head = isHead(request_.httpMethod);
    const auto length = contentLength(response.allHeaderFields());
    if (!head) announced_ = length;
    std::weak_ptr<WebKitSchemeTask> weak = weak_from_this();
    body_ = std::make_shared<webkit::SchemeBody>([weak] {
        if (auto task = weak.lock()) content::CustomSchemeHandler().stopURLSchemeTask(task);
    });
    // A HEAD answer states the length of a body it does not carry.
    platform_->respond(int(response.statusCode()), response.allHeaderFields().fields(),
                       head ? 0 : length ? std::int64_t(*length) : -1, body_);
}

void WebKitSchemeTask::didReceiveData(std::span<const std::uint8_t> data) {
    std::shared_ptr<webkit::SchemeBody> body;
    {
        std::lock_guard guard(lock_);
        if (!body_ || isHead(request_.httpMethod)) return;
        body = body_;
        sent_ += data.size();
    }
    // Waits while the view is behind; the lock stays free for a stop meanwhile.
    body->add(data);
}

void WebKitSchemeTask::didFinish() {
    std::lock_guard guard(lock_);
    if (!body_) {
        platform_->respond(200, {}, {});
        return;
    }
    if (announced_ && sent_ < *announced_) {
        body_->fail(fmt::format("the body ended after {} of {} bytes", sent_, *announced_));
    } else {
        body_->finish();
    }
}

void WebKitSchemeTask::installOn(WebKitWebContext* context) {
    // WebKit refuses a second registration of a scheme; the context remembers the first.
    static const char kInstalled[] = "orvandel-myapp-installed";
    if (g_object_get_data(G_OBJECT(context), kInstalled)) return;
    g_object_set_data(G_OBJECT(context), kInstalled, GINT_TO_POINTER(1));
    webkit::registerScheme(context, "myapp", [](std::shared_ptr<webkit::SchemeRequest> request) {
        auto task = make(request);
        if (!task) {
            request->fail("unreadable URL");
            return;
        }
        content::CustomSchemeHandler().startURLSchemeTask(task);
    });
}
