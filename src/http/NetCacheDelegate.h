#pragma once

#include <optional>
#include <string>

#include "foundation/Url.h"
#include "foundation/Value.h"

class NetHTTPRequest;

// Cache-policy flags of a request (its cachePolicy, or the cache's default when 0).
enum NetCachePolicy : int {
    NetUseDefaultCachePolicy = 0,
    NetDoNotReadFromCacheCachePolicy = 1,            // never answer from the cache
    NetDoNotWriteToCacheCachePolicy = 2,             // never store the response
    NetAskServerIfModifiedWhenStaleCachePolicy = 4,  // answer when current; send validators
    NetAskServerIfModifiedCachePolicy = 8,           // decide once the head arrived
    NetOnlyLoadIfNotCachedCachePolicy = 16,          // any entry, no freshness check
    NetDontLoadCachePolicy = 32,                     // the cache only, no check
    NetFallbackToCacheIfLoadFailsCachePolicy = 64,   // an entry when the request fails
};

// Where a request's response is kept: 0 for this session, anything else for good.
enum NetCacheStoragePolicy : int {
    NetCacheForSessionDurationCacheStoragePolicy = 0,
    NetCachePermanentlyCacheStoragePolicy = 1,
};

// What a request asks of its download cache. Headers are kept as a dictionary of
// header names to texts, with the cache's own numbers beside them.
class NetCacheDelegate {
public:
    virtual ~NetCacheDelegate() = default;

    virtual int defaultCachePolicy() = 0;
    // Seconds since 1970; nullopt when the response names no expiry.
    virtual std::optional<double> expiryDateForRequest(NetHTTPRequest& request, double maxAge) = 0;
    virtual void updateExpiryForRequest(NetHTTPRequest& request, double maxAge) = 0;
    virtual bool canUseCachedDataForRequest(NetHTTPRequest& request) = 0;
    virtual void removeCachedDataForRequest(NetHTTPRequest& request) = 0;
    virtual bool isCachedDataCurrentForRequest(NetHTTPRequest& request) = 0;
    virtual void storeResponseForRequest(NetHTTPRequest& request, double maxAge) = 0;
    virtual void removeCachedDataForURL(const foundation::Url& url) = 0;
    virtual std::optional<foundation::Dictionary> cachedResponseHeadersForURL(
        const foundation::Url& url) = 0;
    virtual std::optional<foundation::Data> cachedResponseDataForURL(
        const foundation::Url& url) = 0;
    virtual std::optional<std::string> pathToCachedResponseDataForURL(
        const foundation::Url& url) = 0;
    virtual std::optional<std::string> pathToCachedResponseHeadersForURL(
        const foundation::Url& url) = 0;
    virtual std::optional<std::string> pathToStoreCachedResponseHeadersForRequest(
        NetHTTPRequest& request) = 0;
    virtual std::optional<std::string> pathToStoreCachedResponseDataForRequest(
        NetHTTPRequest& request) = 0;
    virtual void clearCachedResponsesForStoragePolicy(int storagePolicy) = 0;
};
