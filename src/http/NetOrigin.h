#pragma once

#include "foundation/Url.h"

namespace NetOrigin {

// Whether two URLs share scheme, host and port (the scheme's own port when none is named):
// what credentials and cookies set for one may be sent to.
inline bool same(const foundation::Url& a, const foundation::Url& b) {
    auto port = [](const foundation::Url& url) -> int {
        if (url.port()) return *url.port();
        return url.scheme() == "https" ? 443 : 80;
    };
    return a.scheme() == b.scheme() && a.host() == b.host() && port(a) == port(b);
}

}  // namespace NetOrigin
