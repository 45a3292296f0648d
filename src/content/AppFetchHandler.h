#pragma once

#include <memory>
#include <string>

#include "content/CustomSchemeHandler.h"
#include "content/FetchMediaLoader.h"

namespace content {

// Holds the "/fetch" place in the responder order. Until files, icons and artwork can be
// fetched from devices, every fetch is answered "not found".
//
// It also keeps the process-wide registry of media loaders by device identifier (the text
// exactly as given), which the application fills when a device's library is loaded and
// empties when the device leaves. Safe from any thread.
class AppFetchHandler : public RequestResponseHandler {
public:
    static ResponderClass responderClass();

    static void setMediaLoaderOf(std::shared_ptr<FetchMediaLoader> loader,
                                 const std::string& deviceId);
    static std::shared_ptr<FetchMediaLoader> mediaLoaderOf(const std::string& deviceId);
    static void removeMediaLoaderOf(const std::string& deviceId);

protected:
    bool implements(Operation op) const override { return op == Operation::Get; }
    std::shared_ptr<HTTPURLResponse> getResponse(const URLRequest& request, SchemeTask&) override {
        return std::make_shared<MyHttpURLResponse>(request.url, 404);
    }
};

}  // namespace content
