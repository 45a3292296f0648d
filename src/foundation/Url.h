#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace foundation {

// A URI reference after RFC 3986. Components keep their percent-escapes as written; only
// the scheme and the host are lower-cased. A reference without a scheme (for example an
// HTTP request target "/a?b") parses too and has an empty scheme().
class Url {
public:
    // nullopt for control characters, spaces or non-ASCII bytes anywhere, an invalid
    // scheme, user information or host (bad percent-escapes included), or a port that
    // is not a number up to 65535.
    static std::optional<Url> parse(std::string_view text);

    // "file://" and the path with everything but unreserved characters, sub-delimiters,
    // ":", "@" and "/" percent-encoded (UTF-8 bytes one escape each). A relative path is
    // taken from the current folder.
    static Url fromFilePath(std::string_view absolutePath);

    // Decodes "%XX" escapes; an escape that is not "%" and two hex digits stays as it is.
    static std::string percentDecode(std::string_view text, bool plusAsSpace = false);
    // Escapes every byte except the unreserved characters (letters, digits, "-._~") and
    // those in allowedExtra, as "%XX" with upper-case digits.
    static std::string percentEncode(std::string_view text, std::string_view allowedExtra);

    const std::string& scheme() const { return scheme_; }
    bool hasAuthority() const { return hasAuthority_; }
    const std::optional<std::string>& user() const { return user_; }
    const std::optional<std::string>& password() const { return password_; }
    // IPv6 and other IP literals keep their brackets: "[::1]".
    const std::string& host() const { return host_; }
    std::optional<std::uint16_t> port() const { return port_; }
    const std::string& path() const { return path_; }
    // "http://a/?" has an empty query, "http://a/" none.
    const std::optional<std::string>& query() const { return query_; }
    const std::optional<std::string>& fragment() const { return fragment_; }

    // The reference put back together (RFC 3986 section 5.3).
    std::string toString() const;

    // The target of a reference relative to this URL (RFC 3986 section 5.2). nullopt
    // when the reference does not parse or this URL has no scheme.
    std::optional<Url> resolve(std::string_view reference) const;

    // The query split on "&" (empty pieces skipped); the first "=" ends the name; names
    // and values percent-decoded with "+" as a space; a piece without "=" has the empty
    // value. In the order written; an absent query gives none.
    std::vector<std::pair<std::string, std::string>> queryItems() const;

    // The last non-empty path segment, percent-decoded ("/a/b/" gives "b"); "/" for the
    // root path, empty for an empty path.
    std::string lastPathComponent() const;

    // The decoded path of a "file" URL whose host is empty or "localhost"; nullopt for
    // any other URL, a relative path, or a path that decodes to a NUL byte.
    std::optional<std::string> filePath() const;

    bool operator==(const Url&) const = default;

private:
    // Fills user, password, host and port from the text between "//" and the path.
    bool parseAuthority(std::string_view authority);

    std::string scheme_;
    bool hasAuthority_ = false;
    std::optional<std::string> user_;
    std::optional<std::string> password_;
    std::string host_;
    std::optional<std::uint16_t> port_;
    std::string path_;
    std::optional<std::string> query_;
    std::optional<std::string> fragment_;
};

}  // namespace foundation
