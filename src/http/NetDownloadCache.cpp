#include "http/NetDownloadCache.h"

#include <sys/stat.h>

#include <fmt/format.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <system_error>

#include "data/helpers/NSDataHashing.h"
#include "foundation/AtomicFile.h"
#include "foundation/Error.h"
#include "foundation/Paths.h"
#include "foundation/PropertyList.h"
#include "http/NetHTTPRequest.h"
#include "http/NetHeaderMatching.h"
#include "http/NetHeaderParsing.h"

namespace fs = std::filesystem;
using foundation::Dictionary;
using foundation::Url;

namespace {

constexpr const char* SessionStore = "SessionStore";
constexpr const char* PermanentStore = "PermanentStore";
constexpr const char* ExpiresKey = "X-NetHTTPRequest-Expires";
constexpr const char* StatusKey = "X-NetHTTPRequest-Response-Status-Code";

double nowSeconds() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::optional<std::string> headerIn(const Dictionary& headers, std::string_view name) {
    for (const auto& [key, value] : headers) {
        if (NetHeaderMatching::same(key, name) && value.isString()) return *value.string();
    }
    return std::nullopt;
}

Dictionary dictionaryOf(const NetHeaders& headers) {
    Dictionary result;
    for (const auto& [name, value] : headers) {
        auto found = result.find(name);
        if (found != result.end()) {
            found->second = found->second.stringOr() + ", " + value;
        } else {
            result.emplace(name, value);
        }
    }
    return result;
}

bool isFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

// The folder is there afterwards, or the reason why not is thrown.
void makeFolder(const std::string& path) {
    std::error_code error;
    auto status = fs::status(path, error);
    if (fs::exists(status)) {
        if (fs::is_directory(status)) return;
        throw foundation::NamedException(
            "FileExistsAtCachePath",
            fmt::format("Cannot create a directory for the cache at '{}', because a file "
                        "already exists",
                        path));
    }
    fs::create_directory(path, error);
    if (!fs::is_directory(path, error)) {
        throw foundation::NamedException(
            "FailedToCreateCacheDirectory",
            fmt::format("Failed to create a directory for the cache at '{}'", path));
    }
}

}  // namespace

std::shared_ptr<NetDownloadCache> NetDownloadCache::sharedCache() {
    static std::mutex lock;
    static std::shared_ptr<NetDownloadCache> shared;
    std::lock_guard guard(lock);
    if (!shared) {
        shared = std::make_shared<NetDownloadCache>();
        foundation::Paths::ensureDirectory(foundation::Paths::cachesDir());
        shared->setStoragePath(foundation::Paths::cachesDir() + "/NetHTTPRequestCache");
    }
    return shared;
}

// --- Settings ---

std::string NetDownloadCache::storagePath() const {
    std::lock_guard guard(accessLock_);
    return storagePath_;
}

void NetDownloadCache::setStoragePath(const std::string& path) {
    std::lock_guard guard(accessLock_);
    clearCachedResponsesForStoragePolicy(NetCacheForSessionDurationCacheStoragePolicy);
    storagePath_ = path;
    for (const std::string& folder :
         {path, path + "/" + SessionStore, path + "/" + PermanentStore}) {
        makeFolder(folder);
    }
    clearCachedResponsesForStoragePolicy(NetCacheForSessionDurationCacheStoragePolicy);
}

int NetDownloadCache::defaultCachePolicy() {
    std::lock_guard guard(accessLock_);
    return defaultCachePolicy_;
}

void NetDownloadCache::setDefaultCachePolicy(int policy) {
    std::lock_guard guard(accessLock_);
    defaultCachePolicy_ = policy == 0 ? NetAskServerIfModifiedWhenStaleCachePolicy : policy;
}

bool NetDownloadCache::shouldRespectCacheControlHeaders() const {
    std::lock_guard guard(accessLock_);
    return shouldRespectCacheControlHeaders_;
}

void NetDownloadCache::setShouldRespectCacheControlHeaders(bool on) {
    std::lock_guard guard(accessLock_);
    shouldRespectCacheControlHeaders_ = on;
}

// --- Keys and file names ---

const std::vector<std::string>& NetDownloadCache::fileExtensionsToHandleAsHTML() {
    static const std::vector<std::string> extensions = {"asp", "aspx", "jsp", "php",
                                                        "rb",  "py",   "pl",  "cgi"};
    return extensions;
}

std::optional<std::string> NetDownloadCache::keyForURL(const Url& url) {
    std::string text = url.toString();
    if (text.empty()) return std::nullopt;
    // A site's root is one resource with or without its "/". Any other path is kept as
    // asked: "/docs" and "/docs/" are two resources, the one often redirecting to the other.
    if (url.path() == "/" && !url.query() && !url.fragment() && text.back() == '/') text.pop_back();
    auto digest =
        NSData::MD5Hash(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    std::string key;
    for (auto byte : digest) key += fmt::format("{:02X}", byte);
    return key;
}

std::optional<std::string> NetDownloadCache::headersFileName(const Url& url) {
    auto key = keyForURL(url);
    if (!key) return std::nullopt;
    return *key + ".cachedheaders";
}

std::optional<std::string> NetDownloadCache::dataFileName(const Url& url) {
    auto key = keyForURL(url);
    if (!key) return std::nullopt;
    std::string last = url.lastPathComponent();
    auto dot = last.rfind('.');
    std::string extension = dot == std::string::npos ? "" : last.substr(dot + 1);
    std::string lowered = NetHeaderMatching::lowered(extension);
    const auto& html = fileExtensionsToHandleAsHTML();
    if (extension.empty() || std::find(html.begin(), html.end(), lowered) != html.end())
        extension = "html";
    return *key + "." + extension;
}

std::optional<std::string> NetDownloadCache::storeFolder(NetHTTPRequest& request) {
    std::lock_guard guard(accessLock_);
    if (storagePath_.empty()) return std::nullopt;
    return storagePath_ + "/" +
           (request.cacheStoragePolicy() == NetCacheForSessionDurationCacheStoragePolicy
                ? SessionStore
                : PermanentStore);
}

std::optional<std::string> NetDownloadCache::pathToStoreCachedResponseHeadersForRequest(
    NetHTTPRequest& request) {
    std::lock_guard guard(accessLock_);
    auto folder = storeFolder(request);
    auto url = request.url();
    auto name = url ? headersFileName(*url) : std::nullopt;
    if (!folder || !name) return std::nullopt;
    return *folder + "/" + *name;
}

std::optional<std::string> NetDownloadCache::pathToStoreCachedResponseDataForRequest(
    NetHTTPRequest& request) {
    std::lock_guard guard(accessLock_);
    auto folder = storeFolder(request);
    auto url = request.url();
    auto name = url ? dataFileName(*url) : std::nullopt;
    if (!folder || !name) return std::nullopt;
    return *folder + "/" + *name;
}

std::optional<std::string> NetDownloadCache::pathToFile(const std::string& fileName) {
    std::lock_guard guard(accessLock_);
    if (storagePath_.empty()) return std::nullopt;
    for (const char* store : {SessionStore, PermanentStore}) {
        std::string path = storagePath_ + "/" + store + "/" + fileName;
        if (isFile(path)) return path;
    }
    return std::nullopt;
}

std::optional<std::string> NetDownloadCache::pathToCachedResponseHeadersForURL(const Url& url) {
    auto name = headersFileName(url);
    return name ? pathToFile(*name) : std::nullopt;
}

std::optional<std::string> NetDownloadCache::pathToCachedResponseDataForURL(const Url& url) {
    auto name = dataFileName(url);
    return name ? pathToFile(*name) : std::nullopt;
}

std::optional<Dictionary> NetDownloadCache::cachedResponseHeadersForURL(const Url& url) {
    std::lock_guard guard(accessLock_);
    auto path = pathToCachedResponseHeadersForURL(url);
    if (!path) return std::nullopt;
    auto bytes = foundation::readFile(*path);
    if (!bytes) return std::nullopt;
    auto value = foundation::plist::read(*bytes);
    if (!value || !value->isDictionary()) return std::nullopt;
    return *value->dictionary();
}

std::optional<foundation::Data> NetDownloadCache::cachedResponseDataForURL(const Url& url) {
    std::lock_guard guard(accessLock_);
    auto path = pathToCachedResponseDataForURL(url);
    if (!path) return std::nullopt;
    return foundation::readFile(*path);
}

// --- Storing ---

bool NetDownloadCache::serverAllowsResponseCachingForRequest(NetHTTPRequest& request) {
    auto lowered = [&](std::string_view name) {
        return NetHeaderMatching::lowered(request.responseHeader(name).value_or(""));
    };
    std::string cacheControl = lowered("Cache-Control");
    return cacheControl != "no-cache" && cacheControl != "no-store" &&
           lowered("Pragma") != "no-cache";
}

std::optional<double> NetDownloadCache::expiryDateForRequest(NetHTTPRequest& request,
                                                             double maxAge) {
    return NetHeaderParsing::expiryDateForResponseHeaders(dictionaryOf(request.responseHeaders()),
                                                          maxAge, nowSeconds());
}

void NetDownloadCache::storeResponseForRequest(NetHTTPRequest& request, double maxAge) {
    std::lock_guard guard(accessLock_);
    if (request.error() || request.responseHeaders().empty() ||
        (request.cachePolicy() & NetDoNotWriteToCacheCachePolicy))
        return;
    int status = request.responseStatusCode();
    if (status != 200 && status != 301 && status != 302 && status != 303 && status != 307) return;
    if (shouldRespectCacheControlHeaders_ && !serverAllowsResponseCachingForRequest(request))
        return;
    auto headersPath = pathToStoreCachedResponseHeadersForRequest(request);
    auto dataPath = pathToStoreCachedResponseDataForRequest(request);
    if (!headersPath || !dataPath) return;

    auto body = request.downloadDestinationPath().empty() ? request.responseData() : std::nullopt;
    Dictionary headers = dictionaryOf(request.responseHeaders());
    if (request.isResponseCompressed()) {
        // The body is kept inflated.
        std::erase_if(headers, [](const auto& entry) {
            return NetHeaderMatching::same(entry.first, "Content-Encoding") ||
                   NetHeaderMatching::same(entry.first, "Content-Length");
        });
        if (body) headers.emplace("Content-Length", fmt::format("{}", body->size()));
    }
    if (auto expires = expiryDateForRequest(request, maxAge)) headers.emplace(ExpiresKey, *expires);
    headers.emplace(StatusKey, static_cast<std::int64_t>(status));
    auto xml = foundation::plist::writeXml(foundation::Value(std::move(headers)));
    if (!xml) return;
    foundation::writeFileAtomically(
        *headersPath, std::span(reinterpret_cast<const std::uint8_t*>(xml->data()), xml->size()));

    if (body) {
        foundation::writeFileAtomically(*dataPath, *body);
    } else if (!request.downloadDestinationPath().empty() &&
               request.downloadDestinationPath() != *dataPath) {
        std::error_code error;
        fs::remove(*dataPath, error);
        fs::copy_file(request.downloadDestinationPath(), *dataPath, error);
    }
}

void NetDownloadCache::updateExpiryForRequest(NetHTTPRequest& request, double maxAge) {
    std::lock_guard guard(accessLock_);
    auto path = pathToStoreCachedResponseHeadersForRequest(request);
    if (!path) return;
    auto bytes = foundation::readFile(*path);
    if (!bytes) return;
    auto value = foundation::plist::read(*bytes);
    auto expires = expiryDateForRequest(request, maxAge);
    if (!value || !value->isDictionary() || !expires) return;
    value->set(ExpiresKey, *expires);
    if (auto xml = foundation::plist::writeXml(*value)) {
        foundation::writeFileAtomically(
            *path, std::span(reinterpret_cast<const std::uint8_t*>(xml->data()), xml->size()));
    }
}

// --- Looking up ---

bool NetDownloadCache::isCachedDataCurrentForRequest(NetHTTPRequest& request) {
    std::lock_guard guard(accessLock_);
    auto url = request.url();
    if (storagePath_.empty() || !url) return false;
    auto cached = cachedResponseHeadersForURL(*url);
    if (!cached || !pathToCachedResponseDataForURL(*url)) return false;
    if (request.responseStatusCode() == 304) return true;
    if (!request.responseHeaders().empty() && request.complete()) {
        for (const char* name : {"Etag", "Last-Modified"}) {
            auto mine = request.responseHeader(name);
            if (!mine || mine != headerIn(*cached, name)) return false;
        }
    }
    if (shouldRespectCacheControlHeaders_) {
        auto found = cached->find(ExpiresKey);
        if (found == cached->end()) return false;
        auto expires = found->second.toDouble();
        if (!expires || *expires < nowSeconds()) return false;
    }
    return true;
}

bool NetDownloadCache::canUseCachedDataForRequest(NetHTTPRequest& request) {
    int policy = request.cachePolicy() != 0 ? request.cachePolicy() : defaultCachePolicy();
    if (policy & NetDoNotReadFromCacheCachePolicy) return false;
    auto url = request.url();
    // Whatever the policy, an entry that is not there cannot answer.
    if (!url || !cachedResponseHeadersForURL(*url) || !pathToCachedResponseDataForURL(*url))
        return false;
    if (policy & (NetDontLoadCachePolicy | NetOnlyLoadIfNotCachedCachePolicy)) return true;
    if (request.complete() && (policy & NetFallbackToCacheIfLoadFailsCachePolicy)) return true;
    if (!(policy &
          (NetAskServerIfModifiedWhenStaleCachePolicy | NetAskServerIfModifiedCachePolicy)))
        return false;
    if ((policy & NetAskServerIfModifiedCachePolicy) &&
        !(policy & NetAskServerIfModifiedWhenStaleCachePolicy) && request.responseHeaders().empty())
        return false;
    return isCachedDataCurrentForRequest(request);
}

// --- Removing ---

void NetDownloadCache::removeCachedDataForURL(const Url& url) {
    std::lock_guard guard(accessLock_);
    if (storagePath_.empty()) return;
    std::error_code error;
    if (auto path = pathToCachedResponseHeadersForURL(url)) fs::remove(*path, error);
    if (auto path = pathToCachedResponseDataForURL(url)) fs::remove(*path, error);
}

void NetDownloadCache::removeCachedDataForRequest(NetHTTPRequest& request) {
    if (auto url = request.url()) removeCachedDataForURL(*url);
}

void NetDownloadCache::clearCachedResponsesForStoragePolicy(int storagePolicy) {
    std::lock_guard guard(accessLock_);
    if (storagePath_.empty()) return;
    std::string folder =
        storagePath_ + "/" +
        (storagePolicy == NetCacheForSessionDurationCacheStoragePolicy ? SessionStore
                                                                       : PermanentStore);
    std::error_code error;
    if (!fs::is_directory(folder, error)) return;
    fs::directory_iterator entries(folder, error);
    if (error) {
        throw foundation::NamedException(
            "FailedToTraverseCacheDirectory",
            fmt::format("Listing cache directory failed at path '{}'", folder));
    }
    for (const auto& entry : entries) {
        fs::remove_all(entry.path(), error);
        if (error) {
            throw foundation::NamedException(
                "FailedToRemoveCacheFile",
                fmt::format("Failed to remove cached data at path '{}'", folder));
        }
    }
}
