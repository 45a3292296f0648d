// What the request class keeps for the whole run of the program, and forgetting it.

#include "http/NetCacheDelegate.h"
#include "http/NetHTTPRequest.h"
#include "http/NetRequestDefaults.h"
#include "http/NetSessionCookies.h"
#include "http/NetSessionCredentials.h"

void NetHTTPRequest::clearSession() {
    NetSessionCredentials::shared().clearServerCredentials();
    // No list at all: every cookie of the session also leaves the shared cookie storage.
    NetSessionCookies::shared().setSessionCookies(std::nullopt);
    if (auto cache = NetRequestDefaults::shared().defaultCache())
        cache->clearCachedResponsesForStoragePolicy(NetCacheForSessionDurationCacheStoragePolicy);
}
