#include "http/NetSessionCookies.h"

#include "http/NetCookieJar.h"

NetSessionCookies::NetSessionCookies(NetCookieJar& jar) : jar_(jar) {}

NetSessionCookies& NetSessionCookies::shared() {
    static NetSessionCookies instance(NetCookieJar::shared());
    return instance;
}

std::vector<NetCookie> NetSessionCookies::sessionCookies() {
    std::lock_guard guard(lock_);
    std::vector<NetCookie> result;
    result.reserve(cookies_.size());
    for (const auto& [order, cookie] : cookies_) result.push_back(cookie);
    return result;
}

void NetSessionCookies::setSessionCookies(std::optional<std::vector<NetCookie>> cookies) {
    std::lock_guard guard(lock_);
    for (const auto& [order, cookie] : cookies_) jar_.deleteCookie(cookie);
    // Also those the list has let go of past its bound.
    jar_.deleteCookiesReceivedInSession();
    cookies_.clear();
    byIdentity_.clear();
    if (cookies) {
        for (const auto& cookie : *cookies) append(cookie);
    }
}

void NetSessionCookies::addSessionCookie(const NetCookie& cookie) {
    std::lock_guard guard(lock_);
    append(cookie);
    // The list follows the jar's bound: the oldest cookie goes first.
    if (cookies_.size() > NetCookieJar::MaximumCookies) {
        byIdentity_.erase(cookies_.begin()->second.identity());
        cookies_.erase(cookies_.begin());
    }
}

void NetSessionCookies::append(const NetCookie& cookie) {
    const std::uint64_t order = nextOrder_++;
    // A cookie of the same identity leaves its place; the new one goes last.
    if (auto found = byIdentity_.find(cookie.identity()); found != byIdentity_.end()) {
        cookies_.erase(found->second);
        found->second = order;
    } else {
        byIdentity_.emplace(cookie.identity(), order);
    }
    cookies_.emplace(order, cookie);
    jar_.markAsReceivedInSession(cookie);
}
