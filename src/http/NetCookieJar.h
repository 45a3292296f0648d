#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "foundation/Url.h"
#include "http/NetCookie.h"

// The cookie storage shared by the requests of the process (RFC 6265 section 5.3).
class NetCookieJar {
public:
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

    // The "Cookie" header value for these cookies, empty for none.
    static std::string cookieHeader(const std::vector<NetCookie>& cookies);

private:
    std::mutex lock_;
    std::vector<NetCookie> cookies_;
};
