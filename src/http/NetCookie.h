#pragma once

#include <compare>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Url.h"

// What makes two cookies the same one: a later cookie of the same identity replaces it.
struct NetCookieIdentity {
    std::string name;
    std::string domain;
    std::string path;
    auto operator<=>(const NetCookieIdentity&) const = default;
};

// One cookie as a server set it, after the storage rules of RFC 6265.
struct NetCookie {
    // The most bytes of name and value a cookie may have.
    static constexpr std::size_t MaximumSize = 4096;

    std::string name;
    std::string value;
    std::string domain;  // lower case, without a leading dot
    std::string path;
    // Seconds since 1970; none for a cookie that ends with the session.
    std::optional<double> expires;
    bool hostOnly = true;
    bool secure = false;
    bool httpOnly = false;
    double creation = 0;

    bool sameIdentity(const NetCookie& other) const {
        return name == other.name && domain == other.domain && path == other.path;
    }
    NetCookieIdentity identity() const { return {name, domain, path}; }
    bool isExpired(double now) const { return expires && *expires <= now; }

    // The cookie a "Set-Cookie" value describes for a response from `url`, or nullopt when
    // the value is malformed or names a domain the host may not set.
    static std::optional<NetCookie> fromSetCookie(std::string_view header,
                                                  const foundation::Url& url, double now);
    // A cookie date (RFC 6265 section 5.1.1) as seconds since 1970.
    static std::optional<double> parseCookieDate(std::string_view text);

    // Whether a request to `url` carries this cookie.
    bool matches(const foundation::Url& url) const;
    // The domains whose cookies a request to `url` may carry: its host and, unless that is
    // an IP address, every domain the host lies in.
    static std::vector<std::string> domainsForURL(const foundation::Url& url);
};
