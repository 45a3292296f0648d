#include "foundation/Url.h"

#include <arpa/inet.h>

#include <array>
#include <charconv>
#include <filesystem>
#include <system_error>

namespace foundation {

namespace {

bool isAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isHexDigit(char c) {
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
int hexValue(char c) {
    if (isDigit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return c - 'A' + 10;
}
char toLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool isUnreserved(char c) {
    return isAlpha(c) || isDigit(c) || c == '-' || c == '.' || c == '_' || c == '~';
}
bool isSubDelimiter(char c) {
    return std::string_view("!$&'()*+,;=").find(c) != std::string_view::npos;
}

// A "%" followed by two hex digits at text[i].
bool isEscapeAt(std::string_view text, std::size_t i) {
    return i + 2 < text.size() && text[i] == '%' && isHexDigit(text[i + 1]) &&
           isHexDigit(text[i + 2]);
}

bool isValidScheme(std::string_view scheme) {
    if (scheme.empty() || !isAlpha(scheme.front())) return false;
    for (char c : scheme) {
        if (!isAlpha(c) && !isDigit(c) && c != '+' && c != '-' && c != '.') return false;
    }
    return true;
}

// Unreserved characters, sub-delimiters, well-formed escapes and the extra characters.
bool isValidComponent(std::string_view text, std::string_view extra) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%') {
            if (!isEscapeAt(text, i)) return false;
            i += 2;
        } else if (!isUnreserved(c) && !isSubDelimiter(c) &&
                   extra.find(c) == std::string_view::npos) {
            return false;
        }
    }
    return true;
}

// "[" IPv6address "]" with an optional "%25" zone (RFC 6874), or "[v<hex>.<text>]".
bool isValidIpLiteral(std::string_view literal) {
    std::string_view inner = literal.substr(1, literal.size() - 2);
    if (inner.empty()) return false;
    if (inner.front() == 'v' || inner.front() == 'V') {
        std::size_t dot = inner.find('.');
        if (dot == std::string_view::npos || dot < 2 || dot + 1 == inner.size()) return false;
        for (char c : inner.substr(1, dot - 1)) {
            if (!isHexDigit(c)) return false;
        }
        return isValidComponent(inner.substr(dot + 1), ":") &&
               inner.find('%') == std::string_view::npos;
    }
    std::string_view address = inner;
    std::size_t zone = inner.find("%25");
    if (zone != std::string_view::npos) {
        address = inner.substr(0, zone);
        std::string_view zoneId = inner.substr(zone + 3);
        if (zoneId.empty() || !isValidComponent(zoneId, "")) return false;
        for (char c : zoneId) {
            if (isSubDelimiter(c)) return false;
        }
    }
    std::string addressText(address);
    unsigned char buffer[16];
    return inet_pton(AF_INET6, addressText.c_str(), buffer) == 1;
}

// Lower-cases letters outside percent-escapes, whose hex digits are kept as written.
std::string lowerCaseHost(std::string_view host) {
    std::string result;
    result.reserve(host.size());
    for (std::size_t i = 0; i < host.size(); ++i) {
        if (host[i] == '%' && i + 2 < host.size()) {
            result.append(host.substr(i, 3));
            i += 2;
        } else {
            result.push_back(toLower(host[i]));
        }
    }
    return result;
}

// An empty port counts as none (RFC 3986 section 6.2.3).
bool parsePort(std::string_view text, std::optional<std::uint16_t>& port) {
    port.reset();
    if (text.empty()) return true;
    unsigned value = 0;
    for (char c : text) {
        if (!isDigit(c)) return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
        if (value > 65535) return false;
    }
    port = static_cast<std::uint16_t>(value);
    return true;
}

// RFC 3986 section 5.2.4.
std::string removeDotSegments(std::string_view path) {
    std::string input(path);
    std::string output;
    std::size_t pos = 0;
    auto rest = [&] { return std::string_view(input).substr(pos); };
    auto dropLastSegment = [&] {
        std::size_t slash = output.rfind('/');
        output.erase(slash == std::string::npos ? 0 : slash);
    };
    while (pos < input.size()) {
        std::string_view in = rest();
        if (in.starts_with("../")) {
            pos += 3;
        } else if (in.starts_with("./")) {
            pos += 2;
        } else if (in.starts_with("/./")) {
            pos += 2;
        } else if (in == "/.") {
            pos += 1;
            input[pos] = '/';
        } else if (in.starts_with("/../")) {
            pos += 3;
            dropLastSegment();
        } else if (in == "/..") {
            pos += 2;
            input[pos] = '/';
            dropLastSegment();
        } else if (in == "." || in == "..") {
            pos = input.size();
        } else {
            std::size_t end = in.find('/', 1);
            if (end == std::string_view::npos) end = in.size();
            output.append(in.substr(0, end));
            pos += end;
        }
    }
    return output;
}

}  // namespace

std::optional<Url> Url::parse(std::string_view text) {
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F) return std::nullopt;
    }

    Url url;
    std::string_view rest = text;

    std::size_t delimiter = rest.find_first_of(":/?#");
    if (delimiter != std::string_view::npos && rest[delimiter] == ':') {
        // A colon in the first segment of a reference without a scheme would be ambiguous.
        std::string_view scheme = rest.substr(0, delimiter);
        if (!isValidScheme(scheme)) return std::nullopt;
        for (char c : scheme) url.scheme_.push_back(toLower(c));
        rest.remove_prefix(delimiter + 1);
    }

    if (std::size_t hash = rest.find('#'); hash != std::string_view::npos) {
        url.fragment_ = std::string(rest.substr(hash + 1));
        rest = rest.substr(0, hash);
    }
    if (std::size_t question = rest.find('?'); question != std::string_view::npos) {
        url.query_ = std::string(rest.substr(question + 1));
        rest = rest.substr(0, question);
    }

    if (rest.starts_with("//")) {
        url.hasAuthority_ = true;
        std::size_t slash = rest.find('/', 2);
        std::string_view authority =
            rest.substr(2, slash == std::string_view::npos ? std::string_view::npos : slash - 2);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash);

        if (!url.parseAuthority(authority)) return std::nullopt;
    }

    url.path_ = std::string(rest);
    return url;
}

bool Url::parseAuthority(std::string_view authority) {
    if (std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
        std::string_view userInfo = authority.substr(0, at);
        if (!isValidComponent(userInfo, ":")) return false;
        std::size_t colon = userInfo.find(':');
        user_ = std::string(userInfo.substr(0, colon));
        if (colon != std::string_view::npos) {
            password_ = std::string(userInfo.substr(colon + 1));
        }
        authority.remove_prefix(at + 1);
    }

    std::string_view host;
    std::string_view portText;
    if (authority.starts_with('[')) {
        std::size_t close = authority.find(']');
        if (close == std::string_view::npos) return false;
        host = authority.substr(0, close + 1);
        if (!isValidIpLiteral(host)) return false;
        std::string_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':') return false;
            portText = after.substr(1);
        }
    } else {
        std::size_t colon = authority.find(':');
        host = authority.substr(0, colon);
        if (!isValidComponent(host, "")) return false;
        if (colon != std::string_view::npos) portText = authority.substr(colon + 1);
    }
    if (!parsePort(portText, port_)) return false;
    host_ = lowerCaseHost(host);
    return true;
}

Url Url::fromFilePath(std::string_view absolutePath) {
    std::string path(absolutePath);
    if (!path.starts_with('/')) {
        std::error_code error;
        std::filesystem::path current = std::filesystem::current_path(error);
        path = error ? "/" + path : (current / path).string();
    }
    Url url;
    url.scheme_ = "file";
    url.hasAuthority_ = true;
    url.path_ = percentEncode(path, "!$&'()*+,;=:@/");
    return url;
}

std::string Url::percentDecode(std::string_view text, bool plusAsSpace) {
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%' && isEscapeAt(text, i)) {
            result.push_back(static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2])));
            i += 2;
        } else if (c == '+' && plusAsSpace) {
            result.push_back(' ');
        } else {
            result.push_back(c);
        }
    }
    return result;
}

std::string Url::percentEncode(std::string_view text, std::string_view allowedExtra) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string result;
    result.reserve(text.size());
    for (char c : text) {
        if (isUnreserved(c) || allowedExtra.find(c) != std::string_view::npos) {
            result.push_back(c);
        } else {
            auto byte = static_cast<unsigned char>(c);
            result.push_back('%');
            result.push_back(kDigits[byte >> 4]);
            result.push_back(kDigits[byte & 0x0F]);
        }
    }
    return result;
}

std::string Url::toString() const {
    std::string result;
    if (!scheme_.empty()) {
        result.append(scheme_);
        result.push_back(':');
    }
    if (hasAuthority_) {
        result.append("//");
        if (user_) {
            result.append(*user_);
            if (password_) {
                result.push_back(':');
                result.append(*password_);
            }
            result.push_back('@');
        }
        result.append(host_);
        if (port_) {
            result.push_back(':');
            std::array<char, 8> digits{};
            auto end = std::to_chars(digits.data(), digits.data() + digits.size(), *port_).ptr;
            result.append(digits.data(), end);
        }
    } else if (path_.starts_with("//")) {
        // Would read back as an authority.
        result.append("/.");
    } else if (scheme_.empty() && path_.substr(0, path_.find('/')).find(':') != std::string::npos) {
        // Would read back as a scheme.
        result.append("./");
    }
    result.append(path_);
    if (query_) {
        result.push_back('?');
        result.append(*query_);
    }
    if (fragment_) {
        result.push_back('#');
        result.append(*fragment_);
    }
    return result;
}

std::optional<Url> Url::resolve(std::string_view reference) const {
    if (scheme_.empty()) return std::nullopt;
    std::optional<Url> parsed = parse(reference);
    if (!parsed) return std::nullopt;
    const Url& r = *parsed;

    Url target;
    auto copyAuthority = [&target](const Url& from) {
        target.hasAuthority_ = from.hasAuthority_;
        target.user_ = from.user_;
        target.password_ = from.password_;
        target.host_ = from.host_;
        target.port_ = from.port_;
    };

    if (!r.scheme_.empty()) {
        target = r;
        target.path_ = removeDotSegments(r.path_);
        return target;
    }
    if (r.hasAuthority_) {
        copyAuthority(r);
        target.path_ = removeDotSegments(r.path_);
        target.query_ = r.query_;
    } else {
        if (r.path_.empty()) {
            target.path_ = path_;
            target.query_ = r.query_ ? r.query_ : query_;
        } else {
            if (r.path_.starts_with('/')) {
                target.path_ = removeDotSegments(r.path_);
            } else {
                std::string merged;
                if (hasAuthority_ && path_.empty()) {
                    merged = "/" + r.path_;
                } else {
                    std::size_t slash = path_.rfind('/');
                    merged =
                        (slash == std::string::npos ? std::string() : path_.substr(0, slash + 1)) +
                        r.path_;
                }
                target.path_ = removeDotSegments(merged);
            }
            target.query_ = r.query_;
        }
        copyAuthority(*this);
    }
    target.scheme_ = scheme_;
    target.fragment_ = r.fragment_;
    return target;
}

std::vector<std::pair<std::string, std::string>> Url::queryItems() const {
    std::vector<std::pair<std::string, std::string>> items;
    if (!query_) return items;
    std::string_view rest = *query_;
    while (true) {
        std::size_t amp = rest.find('&');
        std::string_view piece = rest.substr(0, amp);
        if (!piece.empty()) {
            std::size_t equals = piece.find('=');
            std::string_view name = piece.substr(0, equals);
            std::string_view value =
                equals == std::string_view::npos ? std::string_view() : piece.substr(equals + 1);
            items.emplace_back(percentDecode(name, true), percentDecode(value, true));
        }
        if (amp == std::string_view::npos) break;
        rest.remove_prefix(amp + 1);
    }
    return items;
}

std::string Url::lastPathComponent() const {
    std::string_view path = path_;
    if (path.empty()) return {};
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    if (path == "/") return "/";
    std::size_t slash = path.rfind('/');
    return percentDecode(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::optional<std::string> Url::filePath() const {
    if (scheme_ != "file" || user_ || port_) return std::nullopt;
    if (!host_.empty() && host_ != "localhost") return std::nullopt;
    if (!path_.starts_with('/')) return std::nullopt;
    std::string path = percentDecode(path_);
    if (path.find('\0') != std::string::npos) return std::nullopt;
    return path;
}

}  // namespace foundation
