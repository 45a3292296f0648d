#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

#include "content/SchemeTask.h"
#include "platform/webkit/SchemeBody.h"
#include "platform/webkit/SchemeRequest.h"

typedef struct _WebKitWebContext WebKitWebContext;

// A "myapp" request of the browser view as the scheme handler's task. The head goes to
// the view as soon as the responder sends it and the body follows piece by piece, so a
// large file never sits whole in memory. When the view stops reading (the page navigates
// away or aborts the fetch) the request is stopped, so the responder stops reading. A body
// that ends short of its "Content-Length", or a task dropped unfinished, fails the request:
// before the head as an error answer, after it as an error in the body.
class WebKitSchemeTask : public content::SchemeTask,
                         public std::enable_shared_from_this<WebKitSchemeTask> {
public:
    // Null when the request's URL cannot be read.
    static std::shared_ptr<WebKitSchemeTask> make(std::shared_ptr<webkit::SchemeRequest> request);
    ~WebKitSchemeTask() override;

    const content::URLRequest& request() const override { return request_; }
    void didReceiveResponse(const content::HTTPURLResponse& response) override;
    void didReceiveData(std::span<const std::uint8_t> data) override;
    void didFinish() override;

    // Serves "myapp" on the context through the scheme handler's responders (once per
    // context).
    static void installOn(WebKitWebContext* context);

private:
    WebKitSchemeTask(std::shared_ptr<webkit::SchemeRequest> platform, content::URLRequest request);

    std::shared_ptr<webkit::SchemeRequest> platform_;
    content::URLRequest request_;
    std::mutex lock_;
    std::shared_ptr<webkit::SchemeBody> body_;
    // The length the head announced, when it did and a body follows.
    std::optional<std::uint64_t> announced_;
    std::uint64_t sent_ = 0;
};
