#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Url.h"
#include "platform/net/NetProxyEntry.h"

namespace net {

// A proxy auto-configuration script: JavaScript defining FindProxyForURL(url, host), run in
// a JavaScriptCore context of its own with the standard helper functions (isPlainHostName,
// dnsDomainIs, isInNet, shExpMatch, weekdayRange and the others). The run is cut off
// after a time limit, so a script that never ends cannot hold up the request.
class NetPACScript {
public:
    // The script's answer for the URL; nullopt (and `error` set) when the script does not
    // compile, throws, runs out of time or answers something other than a text.
    static std::optional<std::vector<NetProxyEntry>> copyProxiesForURL(
        const std::string& script, const foundation::Url& url, std::chrono::duration<double> limit,
        std::string* error = nullptr);

    // "PROXY host:port; DIRECT" into entries, in order. "PROXY"/"HTTP" give an HTTP proxy,
    // "DIRECT" no proxy; kinds that cannot be used here (SOCKS, HTTPS) and malformed
    // items are left out.
    static std::vector<NetProxyEntry> parseResult(std::string_view result);
};

}  // namespace net
