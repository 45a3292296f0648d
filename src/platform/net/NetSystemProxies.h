#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Url.h"
#include "platform/net/NetProxyBypass.h"
#include "platform/net/NetProxyEntry.h"

struct _GSettingsBackend;

namespace net {

// The system's proxy settings: GNOME's (GSettings "org.gnome.system.proxy") where that
// schema is installed and its mode is "manual" or "auto", otherwise the environment
// ("http_proxy", "https_proxy", "all_proxy", "no_proxy", in either letter case, the
// lower-case one first). GNOME's SOCKS host serves the schemes that have no HTTP proxy.
struct NetSystemProxySettings {
    std::optional<NetProxyEntry> httpProxy;   // for "http" URLs
    std::optional<NetProxyEntry> httpsProxy;  // for "https" URLs
    std::string autoConfigurationURL;
    // Proxies are to be found automatically, but no script is named: the discovery that
    // would find one is not done, so which proxies apply cannot be known.
    bool automaticWithoutScript = false;
    NetProxyBypass bypass{{}};
};

class NetSystemProxies {
public:
    using Environment = std::function<const char*(const char* name)>;

    static NetSystemProxySettings copySystemProxySettings();
    static NetSystemProxySettings settingsFromEnvironment(const Environment& environment);
    // nullopt without the schema, or when its mode says "none". Read from the default
    // settings backend unless another is given; the default backend's are read again only
    // after it has told of a change.
    static std::optional<NetSystemProxySettings> settingsFromGSettings(
        _GSettingsBackend* backend = nullptr);

    // The ways to reach the URL under the settings, in order; an empty list means directly.
    static std::vector<NetProxyEntry> copyProxiesForURL(const foundation::Url& url,
                                                        const NetSystemProxySettings& settings);

    // "host:port", "http://[user:pass@]host[:port][/]", or a SOCKS proxy as
    // "socks5://", "socks5h://" or "socks://" (port 1080 by default); nullopt for another
    // scheme (a TLS proxy cannot be used) or a malformed address.
    static std::optional<NetProxyEntry> parseProxyAddress(std::string_view text);
};

}  // namespace net
