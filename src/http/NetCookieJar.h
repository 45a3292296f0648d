#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "foundation/Url.h"
#include "http/NetCookie.h"

// The cookie storage shared by the requests of the process (RFC 6265 section 5.3). It
// keeps at most MaximumCookiesPerDomain cookies for one domain and MaximumCookies in all,
// dropping the oldest first, so that no site can make every request carry a huge header.
// The cookies are indexed by identity, by domain and by age, so that storing one and
// finding those of a URL take time in the cookies concerned, not in the whole jar.
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
    // Every stored cookie, in the order stored.
    std::vector<NetCookie> cookies();

    // Marks the stored cookie of this identity as one received during this run of the
    // program; storing it again (by anyone) drops the mark.
    void markAsReceivedInSession(const NetCookie& cookie);
    // Deletes every cookie so marked.
    void deleteCookiesReceivedInSession();

    // The "Cookie" header value for these cookies, empty for none: as many of them, in
    // order, as fit in MaximumCookieHeaderLength.
    static std::string cookieHeader(const std::vector<NetCookie>& cookies);

private:
    // Creation time, then the order stored: older first, and of the same age the one
    // stored first.
    using Age = std::pair<double, std::uint64_t>;
    struct Stored {
        NetCookie cookie;
        bool receivedInSession = false;
    };

    void insert(NetCookie cookie);
    void erase(std::uint64_t order);
    // Drops the oldest cookies of `domain`, and then of all, past the limits (lock held).
    void evictPastLimits(const std::string& domain);

    std::mutex lock_;
    std::uint64_t nextOrder_ = 0;
    // Every cookie, by the order stored.
    std::map<std::uint64_t, Stored> cookies_;
    std::map<NetCookieIdentity, std::uint64_t> byIdentity_;
    std::unordered_map<std::string, std::set<Age>> byDomain_;
    std::set<Age> byAge_;
    // Cookies that expire, soonest first.
    std::set<std::pair<double, std::uint64_t>> byExpiry_;
};
