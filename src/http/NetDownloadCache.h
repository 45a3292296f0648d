#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "http/NetCacheDelegate.h"

// HTTP responses kept on disk so that a later GET of the same URL can be answered without
// the network. Under the storage path, "SessionStore" holds what lasts for this run and
// "PermanentStore" what lasts until removed; each URL has a headers file
// ("<key>.cachedheaders", an XML property list) and a body file named by the same key, the
// upper-case hexadecimal MD5 of the URL. All file work is serialised by one recursive lock.
class NetDownloadCache : public NetCacheDelegate {
public:
    NetDownloadCache() = default;
    // The process's cache in "NetHTTPRequestCache" of the caches folder, made on first use.
    static std::shared_ptr<NetDownloadCache> sharedCache();

    std::string storagePath() const;
    // Empties the session store of the old and of the new path, and makes the folders.
    // Throws foundation::NamedException ("FileExistsAtCachePath",
    // "FailedToCreateCacheDirectory") when a folder cannot be had.
    void setStoragePath(const std::string& path);
    int defaultCachePolicy() override;
    // 0 means the default, 4.
    void setDefaultCachePolicy(int policy);
    bool shouldRespectCacheControlHeaders() const;
    void setShouldRespectCacheControlHeaders(bool on);

    // URL path extensions whose bodies are kept as "html".
    static const std::vector<std::string>& fileExtensionsToHandleAsHTML();
    // The URL's key; nullopt for a URL whose text is empty.
    static std::optional<std::string> keyForURL(const foundation::Url& url);
    // False when "Cache-Control" is exactly no-cache or no-store, or "Pragma" is no-cache.
    static bool serverAllowsResponseCachingForRequest(NetHTTPRequest& request);

    std::optional<double> expiryDateForRequest(NetHTTPRequest& request, double maxAge) override;
    void updateExpiryForRequest(NetHTTPRequest& request, double maxAge) override;
    bool canUseCachedDataForRequest(NetHTTPRequest& request) override;
    void removeCachedDataForRequest(NetHTTPRequest& request) override;
    bool isCachedDataCurrentForRequest(NetHTTPRequest& request) override;
    void storeResponseForRequest(NetHTTPRequest& request, double maxAge) override;
    void removeCachedDataForURL(const foundation::Url& url) override;
    std::optional<foundation::Dictionary> cachedResponseHeadersForURL(
        const foundation::Url& url) override;
    std::optional<foundation::Data> cachedResponseDataForURL(const foundation::Url& url) override;
    std::optional<std::string> pathToCachedResponseDataForURL(const foundation::Url& url) override;
    std::optional<std::string> pathToCachedResponseHeadersForURL(
        const foundation::Url& url) override;
    std::optional<std::string> pathToStoreCachedResponseHeadersForRequest(
        NetHTTPRequest& request) override;
    std::optional<std::string> pathToStoreCachedResponseDataForRequest(
        NetHTTPRequest& request) override;
    // Empties "SessionStore" (0) or "PermanentStore" (anything else). Throws
    // foundation::NamedException ("FailedToTraverseCacheDirectory",
    // "FailedToRemoveCacheFile") when the folder cannot be listed or emptied.
    void clearCachedResponsesForStoragePolicy(int storagePolicy) override;
    // The named file in the session store, else in the permanent store; nullopt when in
    // neither.
    std::optional<std::string> pathToFile(const std::string& fileName);

private:
    static std::optional<std::string> headersFileName(const foundation::Url& url);
    static std::optional<std::string> dataFileName(const foundation::Url& url);
    std::optional<std::string> storeFolder(NetHTTPRequest& request);

    mutable std::recursive_mutex accessLock_;
    std::string storagePath_;
    int defaultCachePolicy_ = NetAskServerIfModifiedWhenStaleCachePolicy;
    bool shouldRespectCacheControlHeaders_ = true;
};
