#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/Url.h"
#include "http/NetCookie.h"

// The cookie storage shared by the requests of the process (RFC 6265 section 5.3). It
// keeps at most MaximumCookiesPerDomain cookies for one domain and MaximumCookies in all,
// dropping the oldest first, so that no site can make every request carry a huge header.
class NetCookieJar {
public:
    static constexpr std::size_t MaximumCookiesPerDomain = 50;
    static constexpr std::size_t MaximumCookies = 3000;
    // The longest "Cookie" value a request sends; cookies past it stay behind.
    static constexpr std::size_t MaximumCookieHeaderLength = 8192;

    static NetCookieJar& shared();

    // Stores a cookie, replacing one of the same name, domain and path (which keeps its
    // creation time); an expired cookie only removes its stored namesake.
    void setCookie(const NetCookie& cookie, double now);
    // Stores what the "Set-Cookie" values of a response from `url` describe.
    void setCookiesFromHeaders(const std::vector<std::string>& setCookieValues,
                               const foundation::Url& url, double now);
    void deleteCookie(const NetCookie& cookie);
    // The cookies a request to `url` carries, longer paths first, then older first.
    std::vector<NetCookie> cookiesForURL(const foundation::Url& url, double now);
    std::vector<NetCookie> cookies();

    // The "Cookie" header value for these cookies, empty for none: as many of them, in
    // order, as fit in MaximumCookieHeaderLength.
    static std::string cookieHeader(const std::vector<NetCookie>& cookies);

private:
    // Drops the oldest cookies of `domain`, and then of all, past the limits (lock held).
    void evictPastLimits(const std::string& domain);

    std::mutex lock_;
    std::vector<NetCookie> cookies_;
};
