#pragma once

#include <memory>
#include <mutex>

#include "content/SchemeTask.h"
#include "platform/webkit/SchemeRequest.h"

typedef struct _WebKitWebContext WebKitWebContext;

// A "myapp" request of the browser view as the scheme handler's task: what the responder
// sends is gathered and handed to the view in one answer when it finishes. A task that is
// dropped unfinished (a stopped responder) fails its request, so the page never waits.
class WebKitSchemeTask : public content::SchemeTask {
public:
    // Null when the request's URL cannot be read.
    static std::shared_ptr<WebKitSchemeTask> make(std::shared_ptr<webkit::SchemeRequest> request);

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
    int status_ = 0;
    webkit::HeaderList headers_;
    std::vector<std::uint8_t> body_;
};
