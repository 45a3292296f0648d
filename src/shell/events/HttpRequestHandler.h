#pragma once

#include "shell/events/HttpClientRequest.h"
#include "shell/events/WVEventHandler.h"
#include "shell/plugins/WVEventPlugin.h"

// The "http" event: one HTTP request made natively for the page. The body comes back in
// the reply, as text or Base64, or in Base64 chunks pushed to a page handler ("reader").
// Runs on the background pool; the request runs synchronously there.
class HttpRequestHandler : public WVEventHandler {
public:
    static constexpr std::int64_t DefaultChunkSize = 0x80000;

    explicit HttpRequestHandler(HttpClientRequest::Maker makeRequest);
    // The class to register under "http"; every request gets a fresh handler.
    static WVEventPlugin::HandlerClass handlerClass(HttpClientRequest::Maker makeRequest);

    void handleRequestEventPluginCallback(const foundation::Value& request,
                                          const std::shared_ptr<WVEventPlugin>& eventPlugin,
                                          WVBridgeResponseCallback callback) override;

    // The chunk length a request asks for: the absolute value of its 32-bit integer, or the
    // default when it gives none or no number. 0 pushes no chunk at all.
    static std::int64_t chunkSizeOf(const foundation::Value& chunksize);

private:
    HttpClientRequest::Maker makeRequest_;
};
