#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

typedef struct _WebKitURISchemeRequest WebKitURISchemeRequest;
typedef struct _WebKitWebContext WebKitWebContext;

namespace webkit {

class SchemeBody;
using HeaderList = std::vector<std::pair<std::string, std::string>>;

// One request of the browser view under a custom scheme. It is answered exactly once, on
// the main thread, whichever thread answers: a second answer is ignored, and a request
// dropped without an answer is failed so that the page never waits for ever.
class SchemeRequest {
public:
    explicit SchemeRequest(WebKitURISchemeRequest* request);
    ~SchemeRequest();
    SchemeRequest(const SchemeRequest&) = delete;
    SchemeRequest& operator=(const SchemeRequest&) = delete;

    const std::string& uri() const { return uri_; }
    const std::string& method() const { return method_; }
    const HeaderList& headers() const { return headers_; }
    const std::vector<std::uint8_t>& body() const { return body_; }
    // The page that asks: the address of the document the requesting view shows; empty
    // when no view asks or it has shown none yet (its first page is loading).
    const std::string& pageURI() const { return pageUri_; }

    void respond(int status, HeaderList headers, std::vector<std::uint8_t> body);
    // Answers with the head now and the body as it arrives; `length` is -1 when unknown.
    void respond(int status, HeaderList headers, std::int64_t length,
                 std::shared_ptr<SchemeBody> body);
    void fail(std::string message);
    bool answered() const { return answered_.load(); }

private:
    bool claimAnswer() { return !answered_.exchange(true); }

    WebKitURISchemeRequest* request_;
    std::string uri_;
    std::string method_;
    std::string pageUri_;
    HeaderList headers_;
    std::vector<std::uint8_t> body_;
    std::atomic<bool> answered_{false};
};

using SchemeHandler = std::function<void(std::shared_ptr<SchemeRequest>)>;

// Registers the scheme on the context (secure and CORS-enabled) with its handler, which is
// called on the main thread for every request. A scheme is registered once per context.
void registerScheme(WebKitWebContext* context, const std::string& scheme, SchemeHandler handler);

}  // namespace webkit
