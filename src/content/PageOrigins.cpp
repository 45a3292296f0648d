#include "content/PageOrigins.h"

#include <mutex>

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

}  // namespace

void PageOrigins::setDevelopmentServer(std::optional<std::string> url) {
    auto& server = developmentServer();
    std::lock_guard lock(server.mutex);
    server.url = url ? foundation::Url::parse(*url) : std::nullopt;
}

bool PageOrigins::isOwnPage(const std::string& urlOrOrigin) {
    const auto page = foundation::Url::parse(urlOrOrigin);
    if (!page) return false;
    if (page->scheme() == "myapp") return true;
    auto& server = developmentServer();
    std::lock_guard lock(server.mutex);
    const auto& own = server.url;
    return own && (page->scheme() == "http" || page->scheme() == "https") &&
           page->scheme() == own->scheme() && page->host() == own->host() &&
           portOf(*page) == portOf(*own);
}

}  // namespace content
