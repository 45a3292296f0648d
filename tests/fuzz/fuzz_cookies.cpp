// Set-Cookie values come from any server, many to a response: each line must be stored or
// refused, and however many there are the jar and the Cookie header stay within bounds.
// Input: Set-Cookie values, one a line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>

#include "foundation/Url.h"
#include "http/NetCookieJar.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const foundation::Url from = *foundation::Url::parse("https://a.shop.example/x/y");
    static const foundation::Url sibling = *foundation::Url::parse("https://b.shop.example/x/");
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    NetCookieJar jar;
    double now = 1'700'000'000;
    std::size_t at = 0;
    while (at <= text.size()) {
        std::size_t end = text.find('\n', at);
        std::string_view line = text.substr(at, end == std::string_view::npos ? end : end - at);
        if (auto cookie = NetCookie::fromSetCookie(line, from, now)) {
            if (cookie->name.size() + cookie->value.size() > NetCookie::MaximumSize) std::abort();
            jar.setCookie(*cookie, now);
        }
        now += 1;
        if (end == std::string_view::npos) break;
        at = end + 1;
    }
    const auto stored = jar.cookies();
    if (stored.size() > NetCookieJar::MaximumCookies) std::abort();
    std::map<std::string, std::size_t> perDomain;
    for (const auto& cookie : stored) {
        if (++perDomain[cookie.domain] > NetCookieJar::MaximumCookiesPerDomain) std::abort();
    }
    for (const auto& url : {from, sibling}) {
        std::string header = NetCookieJar::cookieHeader(jar.cookiesForURL(url, now));
        if (header.size() > NetCookieJar::MaximumCookieHeaderLength) std::abort();
        if (header.find_first_of("\r\n") != std::string::npos) std::abort();
    }
    return 0;
}
