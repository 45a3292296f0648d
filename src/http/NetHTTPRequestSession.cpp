// What the request class keeps for the whole run of the program, and forgetting it.

#include <chrono>
#include <memory>

#include "http/NetCacheDelegate.h"
#include "http/NetConnectionPool.h"
#include "http/NetHTTPRequest.h"
#include "http/NetRequestDefaults.h"
#include "http/NetSessionCookies.h"
#include "http/NetSessionCredentials.h"
#include "platform/net/NetRunLoop.h"

void NetHTTPRequest::clearSession() {
    NetSessionCredentials::shared().clearServerCredentials();
    // No list at all: every cookie of the session also leaves the shared cookie storage.
    NetSessionCookies::shared().setSessionCookies(std::nullopt);
    if (auto cache = NetRequestDefaults::shared().defaultCache())
        cache->clearCachedResponsesForStoragePolicy(NetCacheForSessionDurationCacheStoragePolicy);
}

bool NetHTTPRequest::shouldUpdateNetworkActivityIndicator() {
    return NetConnectionPool::shared().shouldUpdateNetworkActivityIndicator();
}

void NetHTTPRequest::setShouldUpdateNetworkActivityIndicator(bool update) {
    NetConnectionPool::shared().setShouldUpdateNetworkActivityIndicator(update);
}

void NetHTTPRequest::showNetworkActivityIndicator() {}

void NetHTTPRequest::hideNetworkActivityIndicator() {}

void NetHTTPRequest::hideNetworkActivityIndicatorAfterDelay() {
    // The timer keeps itself until it has fired, as the run loop would keep a performed job.
    auto holder = std::make_shared<std::shared_ptr<net::NetTimer>>();
    *holder = net::NetRunLoop::current().addTimer(
        net::NetDefaultRunLoopMode, std::chrono::duration<double>(0.5), false, [holder] {
            hideNetworkActivityIndicatorIfNeeeded();
            holder->reset();
        });
}

void NetHTTPRequest::hideNetworkActivityIndicatorIfNeeeded() {
    auto& pool = NetConnectionPool::shared();
    std::lock_guard guard(pool.connectionsLock());
    if (!pool.isNetworkInUse()) hideNetworkActivityIndicator();
}
