#include "http/NetCookie.h"

#include <libpsl.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <ctime>

namespace {

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

std::string lower(std::string_view text) {
    std::string result(text);
    for (char& c : result) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return result;
}

bool isDelimiter(char c) {
    auto u = static_cast<unsigned char>(c);
    return u == 0x09 || (u >= 0x20 && u <= 0x2F) || (u >= 0x3B && u <= 0x40) ||
           (u >= 0x5B && u <= 0x60) || (u >= 0x7B && u <= 0x7E);
}

// Leading digits of a token: between `min` and `max` of them, and nothing but a non-digit
// after them.
std::optional<int> leadingNumber(std::string_view token, std::size_t min, std::size_t max) {
    std::size_t digits = 0;
    while (digits < token.size() && std::isdigit(static_cast<unsigned char>(token[digits])))
        ++digits;
    if (digits < min || digits > max) return std::nullopt;
    int value = 0;
    std::from_chars(token.data(), token.data() + digits, value);
    return value;
}

bool isIpAddress(std::string_view host) {
    if (!host.empty() && host.front() == '[') return true;
    return !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) || c == '.';
    });
}

bool domainMatches(std::string_view host, std::string_view domain) {
    if (host == domain) return true;
    return host.size() > domain.size() && host.ends_with(domain) &&
           host[host.size() - domain.size() - 1] == '.' && !isIpAddress(host);
}

// Whether the domain is one under which unrelated parties register names ("uk", "co.uk",
// "github.io"), after the newest public suffix list there is: the system's, else libpsl's own.
bool isPublicSuffix(const std::string& domain) {
    static const psl_ctx_t* const list = [] {
        const psl_ctx_t* latest = psl_latest(nullptr);
        return latest ? latest : psl_builtin();
    }();
    // Without any list, every domain attribute counts as a suffix: the cookie then stays
    // with its own host.
    return list == nullptr || psl_is_public_suffix2(list, domain.c_str(), PSL_TYPE_ANY) != 0;
}

std::string defaultPath(const foundation::Url& url) {
    const std::string& path = url.path();
    if (path.empty() || path.front() != '/') return "/";
    auto slash = path.rfind('/');
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool pathMatches(std::string_view requestPath, std::string_view cookiePath) {
    if (requestPath.empty()) requestPath = "/";
    if (requestPath == cookiePath) return true;
    if (!requestPath.starts_with(cookiePath)) return false;
    return cookiePath.back() == '/' || requestPath[cookiePath.size()] == '/';
}

}  // namespace

std::optional<double> NetCookie::parseCookieDate(std::string_view text) {
    std::optional<int> hour, minute, second, day, month, year;
    static constexpr std::array<std::string_view, 12> months = {
        "jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};
    std::size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && isDelimiter(text[at])) ++at;
        std::size_t end = at;
        while (end < text.size() && !isDelimiter(text[end])) ++end;
        std::string_view token = text.substr(at, end - at);
        at = end;
        if (token.empty()) continue;
        if (!hour) {
            int h = 0, m = 0, s = 0;
            char tail = 0;
            std::string t(token);
            if (std::sscanf(t.c_str(), "%2d:%2d:%2d%c", &h, &m, &s, &tail) >= 3 &&
                std::isdigit(static_cast<unsigned char>(t[0]))) {
                hour = h;
                minute = m;
                second = s;
                continue;
            }
        }
        if (!day) {
            if (auto value = leadingNumber(token, 1, 2)) {
                day = value;
                continue;
            }
        }
        if (!month && token.size() >= 3) {
            std::string prefix = lower(token.substr(0, 3));
            auto found = std::find(months.begin(), months.end(), prefix);
            if (found != months.end()) {
                month = static_cast<int>(found - months.begin()) + 1;
                continue;
            }
        }
        if (!year) {
            if (auto value = leadingNumber(token, 2, 4)) {
                year = value;
                continue;
            }
        }
    }
    if (!hour || !day || !month || !year) return std::nullopt;
    if (*year >= 70 && *year <= 99) *year += 1900;
    if (*year >= 0 && *year <= 69) *year += 2000;
    if (*day < 1 || *day > 31 || *year < 1601 || *hour > 23 || *minute > 59 || *second > 59) {
        return std::nullopt;
    }
    std::tm parts{};
    parts.tm_year = *year - 1900;
    parts.tm_mon = *month - 1;
    parts.tm_mday = *day;
    parts.tm_hour = *hour;
    parts.tm_min = *minute;
    parts.tm_sec = *second;
    std::tm check = parts;
    time_t seconds = timegm(&parts);
    if (parts.tm_mday != check.tm_mday) return std::nullopt;  // 31 February and the like
    return static_cast<double>(seconds);
}

std::optional<NetCookie> NetCookie::fromSetCookie(std::string_view header,
                                                  const foundation::Url& url, double now) {
    // Control characters (other than a tab) void the whole value (RFC 6265 section 5.2):
    // they would otherwise end up in the Cookie header of later requests.
    if (std::any_of(header.begin(), header.end(), [](char c) {
            auto u = static_cast<unsigned char>(c);
            return (u < 0x20 && u != '\t') || u == 0x7F;
        }))
        return std::nullopt;
    auto semicolon = header.find(';');
    std::string_view pair = header.substr(0, semicolon);
    auto equals = pair.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    NetCookie cookie;
    cookie.name = std::string(trim(pair.substr(0, equals)));
    cookie.value = std::string(trim(pair.substr(equals + 1)));
    // A cookie larger than user agents are asked to keep (RFC 6265 section 6.1) is refused.
    if (cookie.name.empty() || cookie.name.size() + cookie.value.size() > MaximumSize)
        return std::nullopt;
    cookie.creation = now;

    std::optional<double> maxAgeExpiry, expiresExpiry;
    std::string domainAttribute;
    std::optional<std::string> pathAttribute;
    std::string_view rest = semicolon == std::string_view::npos ? "" : header.substr(semicolon + 1);
    while (!rest.empty()) {
        auto next = rest.find(';');
        std::string_view attribute = rest.substr(0, next);
        rest = next == std::string_view::npos ? "" : rest.substr(next + 1);
        auto eq = attribute.find('=');
        std::string name = lower(trim(attribute.substr(0, eq)));
        std::string_view value = eq == std::string_view::npos ? "" : trim(attribute.substr(eq + 1));
        if (name == "expires") {
            expiresExpiry = parseCookieDate(value);
        } else if (name == "max-age") {
            std::string_view digits = value.starts_with('-') ? value.substr(1) : value;
            if (!digits.empty() && std::all_of(digits.begin(), digits.end(), [](char c) {
                    return std::isdigit(static_cast<unsigned char>(c));
                })) {
                double seconds = 0;
                std::from_chars(value.data(), value.data() + value.size(), seconds);
                maxAgeExpiry = seconds <= 0 ? 0.0 : now + seconds;
            }
        } else if (name == "domain") {
            std::string_view domain = value.starts_with('.') ? value.substr(1) : value;
            if (!domain.empty()) domainAttribute = lower(domain);
        } else if (name == "path") {
            if (value.starts_with('/')) pathAttribute = std::string(value);
        } else if (name == "secure") {
            cookie.secure = true;
        } else if (name == "httponly") {
            cookie.httpOnly = true;
        }
    }
    cookie.expires = maxAgeExpiry ? maxAgeExpiry : expiresExpiry;
    std::string host = lower(url.host());
    // A cookie for a public suffix would reach every site below it: it is refused, unless
    // the suffix is the host itself, which then keeps the cookie to itself.
    if (!domainAttribute.empty() && isPublicSuffix(domainAttribute)) {
        if (domainAttribute != host) return std::nullopt;
        domainAttribute.clear();
    }
    if (!domainAttribute.empty()) {
        if (!domainMatches(host, domainAttribute)) return std::nullopt;
        cookie.hostOnly = false;
        cookie.domain = domainAttribute;
    } else {
        cookie.domain = host;
    }
    cookie.path = pathAttribute ? *pathAttribute : defaultPath(url);
    return cookie;
}

bool NetCookie::matches(const foundation::Url& url) const {
    std::string host = lower(url.host());
    if (hostOnly ? host != domain : !domainMatches(host, domain)) return false;
    if (!pathMatches(url.path(), path)) return false;
    return !secure || url.scheme() == "https";
}

std::vector<std::string> NetCookie::domainsForURL(const foundation::Url& url) {
    std::string host = lower(url.host());
    std::vector<std::string> domains{host};
    if (isIpAddress(host)) return domains;
    for (std::size_t dot = host.find('.'); dot != std::string::npos; dot = host.find('.', dot + 1))
        domains.push_back(host.substr(dot + 1));
    return domains;
}
