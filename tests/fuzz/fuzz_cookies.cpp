// Set-Cookie values come from any server, many to a response: each line must be stored or
// refused, and however many there are the jar and the Cookie header stay within bounds. The
// jar's indexes must give what a plain list of the cookies gives: the same cookies kept,
// evicted and sent, in the same order.
// Input: Set-Cookie values, one a line; the lines come from three hosts in turn, two to a
// second of the clock.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Url.h"
#include "http/NetCookieJar.h"

namespace {

// The jar as a plain list, stored in order, every operation a walk over all of it.
struct ListJar {
    std::vector<NetCookie> cookies;

    void set(const NetCookie& cookie, double now) {
        auto found = std::find_if(cookies.begin(), cookies.end(),
                                  [&](const NetCookie& c) { return c.sameIdentity(cookie); });
        double creation = cookie.creation;
        if (found != cookies.end()) {
            creation = found->creation;
            cookies.erase(found);
        }
        if (cookie.isExpired(now)) return;
        cookies.push_back(cookie);
        cookies.back().creation = creation;
        auto older = [](const NetCookie& a, const NetCookie& b) { return a.creation < b.creation; };
        auto ofDomain = [&](const NetCookie& c) { return c.domain == cookie.domain; };
        while (static_cast<std::size_t>(std::count_if(cookies.begin(), cookies.end(), ofDomain)) >
               NetCookieJar::MaximumCookiesPerDomain) {
            auto oldest = cookies.end();
            for (auto it = cookies.begin(); it != cookies.end(); ++it) {
                if (ofDomain(*it) && (oldest == cookies.end() || older(*it, *oldest))) oldest = it;
            }
            cookies.erase(oldest);
        }
        while (cookies.size() > NetCookieJar::MaximumCookies)
            cookies.erase(std::min_element(cookies.begin(), cookies.end(), older));
    }

    std::vector<NetCookie> forURL(const foundation::Url& url, double now) {
        std::erase_if(cookies, [&](const NetCookie& c) { return c.isExpired(now); });
        std::vector<NetCookie> result;
        for (const auto& cookie : cookies) {
            if (cookie.matches(url)) result.push_back(cookie);
        }
        std::stable_sort(result.begin(), result.end(), [](const NetCookie& a, const NetCookie& b) {
            if (a.path.size() != b.path.size()) return a.path.size() > b.path.size();
            return a.creation < b.creation;
        });
        return result;
    }
};

bool same(const std::vector<NetCookie>& a, const std::vector<NetCookie>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const NetCookie& x, const NetCookie& y) {
                          return x.sameIdentity(y) && x.value == y.value &&
                                 x.creation == y.creation && x.expires == y.expires;
                      });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const foundation::Url from = *foundation::Url::parse("https://a.shop.example/x/y");
    static const foundation::Url sibling = *foundation::Url::parse("https://b.shop.example/x/");
    static const foundation::Url parent = *foundation::Url::parse("http://shop.example/");
    const foundation::Url* hosts[] = {&from, &sibling, &parent};
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    NetCookieJar jar;
    ListJar list;
    double now = 1'700'000'000;
    std::size_t at = 0;
    for (std::size_t line = 0; at <= text.size(); ++line) {
        std::size_t end = text.find('\n', at);
        std::string_view value = text.substr(at, end == std::string_view::npos ? end : end - at);
        if (auto cookie = NetCookie::fromSetCookie(value, *hosts[line % 3], now)) {
            if (cookie->name.size() + cookie->value.size() > NetCookie::MaximumSize) std::abort();
            jar.setCookie(*cookie, now);
            list.set(*cookie, now);
        }
        now += static_cast<double>(line % 2);
        if (end == std::string_view::npos) break;
        at = end + 1;
    }
    const auto stored = jar.cookies();
    if (!same(stored, list.cookies)) std::abort();
    if (stored.size() > NetCookieJar::MaximumCookies) std::abort();
    std::map<std::string, std::size_t> perDomain;
    for (const auto& cookie : stored) {
        if (++perDomain[cookie.domain] > NetCookieJar::MaximumCookiesPerDomain) std::abort();
    }
    for (const auto* url : hosts) {
        // Later, so that the cookies with a short life are gone.
        for (double when : {now, now + 120}) {
            auto sent = jar.cookiesForURL(*url, when);
            if (!same(sent, list.forURL(*url, when))) std::abort();
            std::string header = NetCookieJar::cookieHeader(sent);
            if (header.size() > NetCookieJar::MaximumCookieHeaderLength) std::abort();
            if (header.find_first_of("\r\n") != std::string::npos) std::abort();
        }
    }
    if (!same(jar.cookies(), list.cookies)) std::abort();
    return 0;
}
