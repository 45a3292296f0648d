#include "shell/windows/WebKitSchemeTask.h"

#include <webkit2/webkit2.h>

#include "content/CustomSchemeHandler.h"

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
    return std::shared_ptr<WebKitSchemeTask>(
        new WebKitSchemeTask(std::move(platform), std::move(request)));
}

WebKitSchemeTask::WebKitSchemeTask(std::shared_ptr<webkit::SchemeRequest> platform,
                                   content::URLRequest request)
    : platform_(std::move(platform)), request_(std::move(request)) {}

void WebKitSchemeTask::didReceiveResponse(const content::HTTPURLResponse& response) {
    std::lock_guard guard(lock_);
    status_ = int(response.statusCode());
    headers_ = response.allHeaderFields().fields();
}

void WebKitSchemeTask::didReceiveData(std::span<const std::uint8_t> data) {
    std::lock_guard guard(lock_);
    body_.insert(body_.end(), data.begin(), data.end());
}

void WebKitSchemeTask::didFinish() {
    std::lock_guard guard(lock_);
    platform_->respond(status_ ? status_ : 200, std::move(headers_), std::move(body_));
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
