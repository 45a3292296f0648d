#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "foundation/Value.h"

// Parsing of the header values the request reads: dates, expiry and content types.
namespace NetHeaderParsing {

// An RFC 1123 date with or without the weekday and the seconds ("Thu, 01 Dec 1994
// 16:00:00 GMT", "01 Dec 1994 16:00 GMT"), as seconds since 1970.
std::optional<double> dateFromRFC1123String(std::string_view text);

// When a response stops being fresh, in seconds since 1970: now plus `maxAge` when that
// is not 0, else now plus the "Cache-Control" max-age when not 0, else the "Expires"
// date. `headers` maps header names to values.
std::optional<double> expiryDateForResponseHeaders(const foundation::Dictionary& headers,
                                                   double maxAge, double now);

// Splits a Content-Type into the MIME type and, when the charset is one the IANA registry
// knows, its name; an unknown or missing charset leaves `encoding` untouched.
void parseMimeType(std::string* mimeType, std::string* encoding,
                   const std::optional<std::string>& contentType);

}  // namespace NetHeaderParsing
