#include "http/NetSessionCookies.h"

#include <algorithm>

#include "http/NetCookieJar.h"

NetSessionCookies::NetSessionCookies(NetCookieJar& jar) : jar_(jar) {}

NetSessionCookies& NetSessionCookies::shared() {
    static NetSessionCookies instance(NetCookieJar::shared());
    return instance;
}

std::vector<NetCookie> NetSessionCookies::sessionCookies() {
    std::lock_guard guard(lock_);
    return cookies_;
}

void NetSessionCookies::setSessionCookies(std::optional<std::vector<NetCookie>> cookies) {
    std::lock_guard guard(lock_);
    for (const auto& cookie : cookies_) jar_.deleteCookie(cookie);
    cookies_ = cookies ? std::move(*cookies) : std::vector<NetCookie>{};
}

void NetSessionCookies::addSessionCookie(const NetCookie& cookie) {
    std::lock_guard guard(lock_);
    auto found = std::find_if(cookies_.begin(), cookies_.end(),
                              [&](const NetCookie& c) { return c.sameIdentity(cookie); });
    if (found != cookies_.end()) cookies_.erase(found);
    cookies_.push_back(cookie);
    // The list follows the jar's bound: the oldest cookie goes first.
    if (cookies_.size() > NetCookieJar::MaximumCookies) cookies_.erase(cookies_.begin());
}
