// Header values come from any server: dates, cookies, cache and content-type headers must
// parse or be refused, and a date that parses must read back the same way.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "foundation/Url.h"
#include "http/NetCookie.h"
#include "http/NetHeaderParsing.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (auto date = NetHeaderParsing::dateFromRFC1123String(text)) {
        if (!std::isfinite(*date)) std::abort();
    }
    (void)NetCookie::parseCookieDate(text);

    static const foundation::Url from = *foundation::Url::parse("https://shop.example.co.uk/a/b");
    if (auto cookie = NetCookie::fromSetCookie(text, from, 1'700'000'000)) {
        // A stored cookie belongs to the host it came from or to a domain above it that is
        // no public suffix.
        if (cookie->domain != "shop.example.co.uk" && cookie->domain != "example.co.uk")
            std::abort();
    }

    std::string mime, encoding;
    NetHeaderParsing::parseMimeType(&mime, &encoding, text);
    const foundation::Dictionary headers = {{"Cache-Control", foundation::Value(text)},
                                            {"Expires", foundation::Value(text)}};
    (void)NetHeaderParsing::expiryDateForResponseHeaders(headers, 0, 1000);
    return 0;
}
