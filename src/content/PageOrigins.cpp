#include "content/PageOrigins.h"

#include <mutex>

#include "content/CustomSchemeHandler.h"
#include "foundation/Url.h"

namespace content {

namespace {

struct DevelopmentServer {
    std::mutex mutex;
    std::optional<foundation::Url> url;
};

DevelopmentServer& developmentServer() {
    static DevelopmentServer server;
    return server;
}

std::uint16_t portOf(const foundation::Url& url) {
    if (url.port()) return *url.port();
    return url.scheme() == "https" ? 443 : 80;
}

// A path that a responder of its own claims ("/fetch", "/ajax"), matched as the routing
// matches it: such an answer is the person's data, never a page of ours, whatever it holds.
bool servedAsData(const std::string& path) {
    for (const auto& responder : CustomSchemeHandler::allResponseClasses()) {
        if (responder.uri && *responder.uri == path) return true;
    }
    return false;
}

}  // namespace

void PageOrigins::setDevelopmentServer(std::optional<std::string> url) {
    auto& server = developmentServer();
    std::lock_guard lock(server.mutex);
    server.url = url ? foundation::Url::parse(*url) : std::nullopt;
}

bool PageOrigins::isOwnPage(const std::string& urlOrOrigin) {
    const auto page = foundation::Url::parse(urlOrOrigin);
    if (!page) return false;
    if (page->scheme() == "myapp") return !servedAsData(page->path());
    auto& server = developmentServer();
    std::lock_guard lock(server.mutex);
    const auto& own = server.url;
    return own && (page->scheme() == "http" || page->scheme() == "https") &&
           page->scheme() == own->scheme() && page->host() == own->host() &&
           portOf(*page) == portOf(*own);
}

std::string PageOrigins::developmentOrigin() {
    auto& server = developmentServer();
    std::lock_guard lock(server.mutex);
    if (!server.url) return {};
    const auto& url = *server.url;
    std::string origin = url.scheme() + "://" + url.host();
    // As a page's origin reads: without the scheme's own port.
    const std::uint16_t standard = url.scheme() == "https" ? 443 : 80;
    if (url.port() && *url.port() != standard) origin += ":" + std::to_string(*url.port());
    return origin;
}

}  // namespace content
