#include "content/DynamicResponse.h"

#include "content/PathText.h"
#include "content/ThreadText.h"
#include "logging/Console.h"

namespace content {

ResponderClass DynamicResponse::responderClass() {
    return {"DynamicResponse", uri(), nullptr,
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
    ConsoleLines({{"Head: ", describeHeaders(request.allHTTPHeaderFields)}});
    return std::make_shared<MyHttpURLResponse>(request.url, 200);
}

std::shared_ptr<HTTPURLResponse> DynamicResponse::getResponse(const URLRequest& request,
                                                              SchemeTask&) {
    ConsoleLines({{"Current thread: ", currentThreadText()},
                  {"Get: ", describeHeaders(request.allHTTPHeaderFields)}});
    constexpr std::string_view kText = "this is a dynamic test";
    auto response = std::make_shared<MyHttpURLResponse>(
        request.url, foundation::Data(kText.begin(), kText.end()));
    response->setMIMEType("text/plain");
    return response;
}

std::shared_ptr<HTTPURLResponse> DynamicResponse::postResponse(const URLRequest& request,
                                                               SchemeTask&) {
    ConsoleLines({{"Post: ", describeHeaders(request.allHTTPHeaderFields)},
                  {"Post Data: ", bodyText(request)}});
    return std::make_shared<MyHttpURLResponse>(request.url, 200);
}

}  // namespace content
