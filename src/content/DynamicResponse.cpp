#include "content/DynamicResponse.h"

#include <fmt/format.h>

#include "content/PathText.h"
#include "content/ThreadText.h"

namespace content {

ResponderClass DynamicResponse::responderClass() {
    return {"DynamicResponse", "/ajax", nullptr,
            [] { return std::make_shared<DynamicResponse>(); }};
}

bool DynamicResponse::test(std::string_view path) {
    std::string rest = cutAtQuery(foldDoubleSlashes(path));
    constexpr std::string_view kPath = "/ajax";
    if (rest.find(kPath) == std::string::npos) return false;
    return rest.size() <= kPath.size() || rest[kPath.size()] == '?' || rest[kPath.size()] == '/';
}

std::shared_ptr<HTTPURLResponse> DynamicResponse::headResponse(const URLRequest& request,
                                                               SchemeTask&) {
    fmt::print(stderr, "Head: {}\n", describeHeaders(request.allHTTPHeaderFields));
    return std::make_shared<MyHttpURLResponse>(request.url, 200);
}

std::shared_ptr<HTTPURLResponse> DynamicResponse::getResponse(const URLRequest& request,
                                                              SchemeTask&) {
    fmt::print(stderr, "Current thread: {}\n", currentThreadText());
    fmt::print(stderr, "Get: {}\n", describeHeaders(request.allHTTPHeaderFields));
    constexpr std::string_view kText = "this is a dynamic test";
    auto response = std::make_shared<MyHttpURLResponse>(
        request.url, foundation::Data(kText.begin(), kText.end()));
    response->setMIMEType("text/plain");
    return response;
}

std::shared_ptr<HTTPURLResponse> DynamicResponse::postResponse(const URLRequest& request,
                                                               SchemeTask&) {
    fmt::print(stderr, "Post: {}\n", describeHeaders(request.allHTTPHeaderFields));
    fmt::print(stderr, "Post Data: {}\n",
               std::string_view(reinterpret_cast<const char*>(request.httpBody.data()),
                                request.httpBody.size()));
    return std::make_shared<MyHttpURLResponse>(request.url, 200);
}

}  // namespace content
