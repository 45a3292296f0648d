#pragma once

#include "content/CustomSchemeHandler.h"

namespace content {

// Holds the "/fetch" place in the responder order. Until files, icons and artwork can be
// fetched from devices, every fetch is answered "not found".
class AppFetchHandler : public RequestResponseHandler {
public:
    static ResponderClass responderClass();

protected:
    bool implements(Operation op) const override { return op == Operation::Get; }
    std::shared_ptr<HTTPURLResponse> getResponse(const URLRequest& request, SchemeTask&) override {
        return std::make_shared<MyHttpURLResponse>(request.url, 404);
    }
};

}  // namespace content
