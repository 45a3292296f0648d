#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "content/CustomSchemeHandler.h"
#include "content/FetchDevice.h"
#include "content/FetchMediaLoader.h"
#include "content/FetchQuery.h"
#include "foundation/Url.h"

namespace content {

// The responder for "/fetch": files of the computer and of devices (with byte ranges, so
// that media elements can seek), icons by file type and device model, application icons,
// a device's file listings, and a device's playlists, tracks and artwork. The query's
// "action" picks what is answered. Large bodies go out in pieces, never whole in memory.
//
// It also keeps the process-wide registry of media loaders by device identifier (the text
// exactly as given), which the application fills when a device's library is loaded and
// empties when the device leaves. Safe from any thread; the registry and the services
// are never destroyed, so a job still running while the process exits finds them whole.
class AppFetchHandler : public RequestResponseHandler {
public:
    static ResponderClass responderClass();
    static std::optional<std::string> uri() { return "/fetch"; }

    // Set once at start-up by the process entry, before the first request.
    static void setServices(FetchServices services);

    // The headers every answer starts from: nothing of it is cached.
    static HttpHeaderFields corsHeaders();

    using MediaLoaders = std::map<std::string, std::shared_ptr<FetchMediaLoader>, std::less<>>;

    static void setMediaLoaderOf(std::shared_ptr<FetchMediaLoader> loader,
                                 const std::string& deviceId);
    // A copy of the registry as it stands.
    static MediaLoaders mediaLoaders();
    // Both the loader of that identifier, or null.
    static std::shared_ptr<FetchMediaLoader> mediaLoaderOf(const std::string& deviceId);
    static std::shared_ptr<FetchMediaLoader> mediaLoaderFor(const std::string& deviceId);
    static void removeMediaLoaderOf(const std::string& deviceId);

    // The application's icon: from the icon cache, else from the device (then kept in the
    // cache). nullopt for an identifier unfit for a file name.
    static std::optional<foundation::Data> findIconDataOfAppOnDevice(const std::string& appId,
                                                                     FetchDevice& device);
    // Identifiers of [A-Za-z0-9._-], not starting with ".".
    static bool isSafeAppId(const std::string& appId);
    // The computer file a "myapp" URL is answered with ("/fetch" with the action
    // "localfile"); nullopt for every other URL.
    static std::optional<std::string> localFileOf(const foundation::Url& url);

    // Bodies are read and handed on in pieces of this size.
    static constexpr std::uint64_t kPieceSize = 1024 * 1024;

protected:
    HttpHeaderFields classHeaders() const override { return corsHeaders(); }
    bool implements(Operation) const override { return true; }
    std::shared_ptr<HTTPURLResponse> headResponse(const URLRequest&, SchemeTask&) override;
    std::shared_ptr<HTTPURLResponse> getResponse(const URLRequest&, SchemeTask&) override;
    std::shared_ptr<HTTPURLResponse> postResponse(const URLRequest&, SchemeTask&) override;

private:
    struct Reply;
    std::shared_ptr<HTTPURLResponse> answer(const URLRequest& request, bool head);
    void localFile(const std::string& path, Reply& reply);
    void iconForType(Reply& reply);
    void deviceAction(const std::string& action, Reply& reply);
};

}  // namespace content
