#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Url.h"
#include "platform/net/NetProxyEntry.h"

namespace net {

// A proxy auto-configuration script: JavaScript defining FindProxyForURL(url, host), run in
// a JavaScriptCore context of its own with the standard helper functions (isPlainHostName,
// dnsDomainIs, isInNet, shExpMatch, weekdayRange and the others).
class NetPACScript {
public:
    // The longest answer text that is read; entries past it are never used.
    static constexpr std::size_t MaximumAnswerLength = 4096;

    // The script's answer for the URL; nullopt (and `error` set) when the script does not
    // compile, throws, runs out of time or memory, or answers something other than a
    // text. The script runs in a worker process (NetPACWorker) that is ended once the time
    // limit has passed, whatever the script is doing, and whose memory is capped and
    // given back when it ends.
    static std::optional<std::vector<NetProxyEntry>> copyProxiesForURL(
        const std::string& script, const foundation::Url& url, std::chrono::duration<double> limit,
        std::string* error = nullptr);

    // Runs the script in this process: the worker's side. The answer text is cut to the
    // whole entries within MaximumAnswerLength. Script time is cut off after `limit`, and
    // dnsResolve stops looking names up once half of it has gone into lookups.
    static std::optional<std::string> answerForURL(const std::string& script,
                                                   const foundation::Url& url,
                                                   std::chrono::duration<double> limit,
                                                   std::string* error = nullptr);

    // "PROXY host:port; DIRECT" into entries, in order. "PROXY"/"HTTP" give an HTTP proxy,
    // "SOCKS"/"SOCKS5" a SOCKS proxy, "DIRECT" no proxy; kinds that cannot be used here
    // (SOCKS4, HTTPS) and malformed items are left out.
    static std::vector<NetProxyEntry> parseResult(std::string_view result);
};

}  // namespace net
