#include "http/NetCookieJar.h"

#include <algorithm>
#include <cmath>

NetCookieJar& NetCookieJar::shared() {
    static NetCookieJar instance;
    return instance;
}

void NetCookieJar::setCookie(const NetCookie& cookie, double now) {
    std::lock_guard guard(lock_);
    double creation = cookie.creation;
    if (auto found = byIdentity_.find(cookie.identity()); found != byIdentity_.end()) {
        creation = cookies_.at(found->second).cookie.creation;
        erase(found->second);
    }
    if (cookie.isExpired(now)) return;
    NetCookie stored = cookie;
    stored.creation = creation;
    insert(std::move(stored));
    evictPastLimits(cookie.domain);
}

void NetCookieJar::insert(NetCookie cookie) {
    const std::uint64_t order = nextOrder_++;
    const Age age{cookie.creation, order};
    byIdentity_.emplace(cookie.identity(), order);
    byDomain_[cookie.domain].insert(age);
    byAge_.insert(age);
    // A moment that is no number never comes: such a cookie does not expire.
    if (cookie.expires && !std::isnan(*cookie.expires)) byExpiry_.emplace(*cookie.expires, order);
    cookies_.emplace(order, Stored{std::move(cookie)});
}

void NetCookieJar::erase(std::uint64_t order) {
    auto found = cookies_.find(order);
    if (found == cookies_.end()) return;
    const NetCookie& cookie = found->second.cookie;
    const Age age{cookie.creation, order};
    byIdentity_.erase(cookie.identity());
    if (auto domain = byDomain_.find(cookie.domain); domain != byDomain_.end()) {
        domain->second.erase(age);
        if (domain->second.empty()) byDomain_.erase(domain);
    }
    byAge_.erase(age);
    if (cookie.expires && !std::isnan(*cookie.expires)) byExpiry_.erase({*cookie.expires, order});
    cookies_.erase(found);
}

void NetCookieJar::evictPastLimits(const std::string& domain) {
    if (auto ofDomain = byDomain_.find(domain); ofDomain != byDomain_.end()) {
        // The domain keeps the limit's worth, so its entry stays.
        while (ofDomain->second.size() > MaximumCookiesPerDomain)
            erase(ofDomain->second.begin()->second);
    }
    while (cookies_.size() > MaximumCookies) erase(byAge_.begin()->second);
}

void NetCookieJar::setCookiesFromHeaders(const std::vector<std::string>& setCookieValues,
                                         const foundation::Url& url, double now) {
    for (const auto& value : setCookieValues) {
        if (auto cookie = NetCookie::fromSetCookie(value, url, now)) setCookie(*cookie, now);
    }
}

void NetCookieJar::deleteCookie(const NetCookie& cookie) {
    std::lock_guard guard(lock_);
    if (auto found = byIdentity_.find(cookie.identity()); found != byIdentity_.end())
        erase(found->second);
}

std::vector<NetCookie> NetCookieJar::cookiesForURL(const foundation::Url& url, double now) {
    std::lock_guard guard(lock_);
    while (!byExpiry_.empty() && byExpiry_.begin()->first <= now) erase(byExpiry_.begin()->second);
    // With the order stored, which decides between cookies alike in path and age.
    std::vector<std::pair<std::uint64_t, const NetCookie*>> found;
    for (const auto& domain : NetCookie::domainsForURL(url)) {
        auto cookies = byDomain_.find(domain);
        if (cookies == byDomain_.end()) continue;
        for (const auto& [creation, order] : cookies->second) {
            const NetCookie& cookie = cookies_.at(order).cookie;
            if (cookie.matches(url)) found.emplace_back(order, &cookie);
        }
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
        if (a.second->path.size() != b.second->path.size())
            return a.second->path.size() > b.second->path.size();
        if (a.second->creation != b.second->creation)
            return a.second->creation < b.second->creation;
        return a.first < b.first;
    });
    std::vector<NetCookie> result;
    result.reserve(found.size());
    for (const auto& [order, cookie] : found) result.push_back(*cookie);
    return result;
}

std::vector<NetCookie> NetCookieJar::cookies() {
    std::lock_guard guard(lock_);
    std::vector<NetCookie> result;
    result.reserve(cookies_.size());
    for (const auto& [order, stored] : cookies_) result.push_back(stored.cookie);
    return result;
}

void NetCookieJar::markAsReceivedInSession(const NetCookie& cookie) {
    std::lock_guard guard(lock_);
    if (auto found = byIdentity_.find(cookie.identity()); found != byIdentity_.end())
        cookies_.at(found->second).receivedInSession = true;
}

void NetCookieJar::deleteCookiesReceivedInSession() {
    std::lock_guard guard(lock_);
    for (auto it = cookies_.begin(); it != cookies_.end();) {
        auto next = std::next(it);
        if (it->second.receivedInSession) erase(it->first);
        it = next;
    }
}

std::string NetCookieJar::cookieHeader(const std::vector<NetCookie>& cookies) {
    std::string header;
    for (const auto& cookie : cookies) {
        std::size_t added = (header.empty() ? 0 : 2) + cookie.name.size() + 1 + cookie.value.size();
        if (header.size() + added > MaximumCookieHeaderLength) break;
        if (!header.empty()) header += "; ";
        header += cookie.name + "=" + cookie.value;
    }
    return header;
}
