#include "http/NetSessionCredentials.h"

#include <algorithm>

namespace {

void removeFirst(std::vector<NetCredentialRecord>& store,
                 const std::shared_ptr<const NetCredentials>& credentials) {
    auto found = std::find_if(store.begin(), store.end(), [&](const NetCredentialRecord& r) {
        return r.credentials == credentials;
    });
    if (found != store.end()) store.erase(found);
}

bool sameServer(const foundation::Url& a, const foundation::Url& b) {
    return a.host() == b.host() && a.port() == b.port() && a.scheme() == b.scheme();
}

}  // namespace

NetSessionCredentials& NetSessionCredentials::shared() {
    static NetSessionCredentials instance;
    return instance;
}

std::vector<NetCredentialRecord> NetSessionCredentials::sessionCredentialsStore() {
    std::lock_guard guard(lock_);
    return server_;
}

std::vector<NetCredentialRecord> NetSessionCredentials::sessionProxyCredentialsStore() {
    std::lock_guard guard(lock_);
    return proxy_;
}

void NetSessionCredentials::storeAuthenticationCredentialsInSessionStore(
    const NetCredentialRecord& record) {
    std::lock_guard guard(lock_);
    removeAuthenticationCredentialsFromSessionStore(record.credentials);
    server_.push_back(record);
}

void NetSessionCredentials::storeProxyAuthenticationCredentialsInSessionStore(
    const NetCredentialRecord& record) {
    std::lock_guard guard(lock_);
    removeProxyAuthenticationCredentialsFromSessionStore(record.credentials);
    proxy_.push_back(record);
}

void NetSessionCredentials::removeAuthenticationCredentialsFromSessionStore(
    const std::shared_ptr<const NetCredentials>& credentials) {
    std::lock_guard guard(lock_);
    removeFirst(server_, credentials);
}

void NetSessionCredentials::removeProxyAuthenticationCredentialsFromSessionStore(
    const std::shared_ptr<const NetCredentials>& credentials) {
    std::lock_guard guard(lock_);
    removeFirst(proxy_, credentials);
}

std::optional<NetCredentialRecord> NetSessionCredentials::findSessionAuthenticationCredentials(
    const foundation::Url& url, const std::optional<std::string>& realm,
    const std::optional<std::string>& username, const std::optional<std::string>& password) {
    std::lock_guard guard(lock_);
    std::optional<NetCredentialRecord> fallback;
    for (const auto& entry : server_) {
        if (!entry.url) continue;
        bool exact = *entry.url == url;
        if (!exact && (fallback || !sameServer(*entry.url, url))) continue;
        if (realm && entry.authenticationRealm && *realm != *entry.authenticationRealm) continue;
        if (username && password) {
            if (!entry.credentials || entry.credentials->username != *username ||
                entry.credentials->password != *password) {
                continue;
            }
        }
        fallback = entry;
        if (exact) return fallback;
    }
    return fallback;
}

std::optional<NetCredentialRecord> NetSessionCredentials::findSessionProxyAuthenticationCredentials(
    const std::string& proxyHost, int proxyPort) {
    std::lock_guard guard(lock_);
    for (const auto& entry : proxy_) {
        if (entry.host == proxyHost && entry.port == proxyPort) return entry;
    }
    return std::nullopt;
}

void NetSessionCredentials::clearServerCredentials() {
    std::lock_guard guard(lock_);
    server_.clear();
}
