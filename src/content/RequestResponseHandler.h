#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "content/MyHttpURLResponse.h"
#include "content/SchemeTask.h"

namespace content {

// The base of every responder. A fresh instance serves one request on the background
// pool: it picks the operation for the request's method, decorates the response (CORS,
// Content-Type, Content-Length) and delivers it to the task unless it was stopped.
class RequestResponseHandler {
public:
    enum class Operation { Head, Get, Post };

    virtual ~RequestResponseHandler() = default;

    // The path a responder class serves, matched exactly; none for a class that tests
    // paths instead.
    static std::optional<std::string> uri() { return std::nullopt; }

    // Serves the request and runs `finish` (which may be empty) last, in every case.
    void handle(const URLRequest& request, const std::shared_ptr<SchemeTask>& task,
                const std::function<void()>& finish);
    void stop();
    bool stopped() const;

protected:
    // Whether pages other than ours are answered too (the pack's pages themselves, which
    // any view must be able to load); other responders answer only our pages.
    virtual bool answersEveryPage() const { return false; }
    // The headers the responder's class puts into its answers (its class-level
    // corsHeaders), given also to the answers the base makes for it: a refusal or a failure.
    virtual HttpHeaderFields classHeaders() const { return {}; }
    // Which operations this responder has; HEAD falls back to GET when it has no HEAD.
    virtual bool implements(Operation) const { return false; }
    // The operations; a null answer means the responder has nothing to say.
    virtual std::shared_ptr<HTTPURLResponse> headResponse(const URLRequest&, SchemeTask&) {
        return nullptr;
    }
    virtual std::shared_ptr<HTTPURLResponse> getResponse(const URLRequest&, SchemeTask&) {
        return nullptr;
    }
    virtual std::shared_ptr<HTTPURLResponse> postResponse(const URLRequest&, SchemeTask&) {
        return nullptr;
    }

private:
    std::shared_ptr<HTTPURLResponse> respond(const URLRequest& request, SchemeTask& task);
    std::shared_ptr<HTTPURLResponse> statusOnly(const URLRequest& request, std::int64_t status) const;
    void deliver(const std::shared_ptr<HTTPURLResponse>& response, SchemeTask& task);

    mutable std::mutex lock_;
    bool stopped_ = false;
};

}  // namespace content
