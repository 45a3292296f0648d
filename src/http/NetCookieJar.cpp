#include "http/NetCookieJar.h"

#include <algorithm>

NetCookieJar& NetCookieJar::shared() {
    static NetCookieJar instance;
    return instance;
}

void NetCookieJar::setCookie(const NetCookie& cookie, double now) {
    std::lock_guard guard(lock_);
    auto found = std::find_if(cookies_.begin(), cookies_.end(),
                              [&](const NetCookie& c) { return c.sameIdentity(cookie); });
    double creation = cookie.creation;
    if (found != cookies_.end()) {
        creation = found->creation;
        cookies_.erase(found);
    }
    if (cookie.isExpired(now)) return;
    cookies_.push_back(cookie);
    cookies_.back().creation = creation;
    evictPastLimits(cookie.domain);
}

void NetCookieJar::evictPastLimits(const std::string& domain) {
    // Older first; among cookies of the same age, the one stored first.
    auto older = [](const NetCookie& a, const NetCookie& b) { return a.creation < b.creation; };
    auto ofDomain = [&](const NetCookie& c) { return c.domain == domain; };
    auto count =
        static_cast<std::size_t>(std::count_if(cookies_.begin(), cookies_.end(), ofDomain));
    while (count > MaximumCookiesPerDomain) {
        auto oldest = cookies_.end();
        for (auto it = cookies_.begin(); it != cookies_.end(); ++it) {
            if (ofDomain(*it) && (oldest == cookies_.end() || older(*it, *oldest))) oldest = it;
        }
        cookies_.erase(oldest);
        --count;
    }
    while (cookies_.size() > MaximumCookies)
        cookies_.erase(std::min_element(cookies_.begin(), cookies_.end(), older));
}

void NetCookieJar::setCookiesFromHeaders(const std::vector<std::string>& setCookieValues,
                                         const foundation::Url& url, double now) {
    for (const auto& value : setCookieValues) {
        if (auto cookie = NetCookie::fromSetCookie(value, url, now)) setCookie(*cookie, now);
    }
}

void NetCookieJar::deleteCookie(const NetCookie& cookie) {
    std::lock_guard guard(lock_);
    std::erase_if(cookies_, [&](const NetCookie& c) { return c.sameIdentity(cookie); });
}

std::vector<NetCookie> NetCookieJar::cookiesForURL(const foundation::Url& url, double now) {
    std::lock_guard guard(lock_);
    std::erase_if(cookies_, [&](const NetCookie& c) { return c.isExpired(now); });
    std::vector<NetCookie> result;
    for (const auto& cookie : cookies_) {
        if (cookie.matches(url)) result.push_back(cookie);
    }
    std::stable_sort(result.begin(), result.end(), [](const NetCookie& a, const NetCookie& b) {
        if (a.path.size() != b.path.size()) return a.path.size() > b.path.size();
        return a.creation < b.creation;
    });
    return result;
}

std::vector<NetCookie> NetCookieJar::cookies() {
    std::lock_guard guard(lock_);
    return cookies_;
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
