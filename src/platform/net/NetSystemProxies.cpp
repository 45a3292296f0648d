#include "platform/net/NetSystemProxies.h"

#include <cstdlib>
#include <string>

#include "platform/net/NetProxySettingsWatch.h"

namespace net {

namespace {

const char* lookup(const NetSystemProxies::Environment& environment, const char* lower,
                   const char* upper) {
    const char* value = environment(lower);
    if (value == nullptr || *value == '\0') value = environment(upper);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

}  // namespace

const char* proxyTypeName(NetProxyEntry::Type type) {
    switch (type) {
        case NetProxyEntry::Type::HTTP:
            return "HTTP";
        case NetProxyEntry::Type::HTTPS:
            return "HTTPS";
        case NetProxyEntry::Type::SOCKS:
            return "SOCKS";
        case NetProxyEntry::Type::AutoConfigurationURL:
            return "AutoConfigurationURL";
        case NetProxyEntry::Type::None:
            break;
    }
    return "None";
}

std::optional<NetProxyEntry> NetSystemProxies::parseProxyAddress(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    if (text.empty()) return std::nullopt;
    std::string address(text);
    if (address.find("://") == std::string::npos) address = "http://" + address;
    auto url = foundation::Url::parse(address);
    if (!url || url->host().empty()) return std::nullopt;
    const std::string scheme = url->scheme();
    bool socks = scheme == "socks5" || scheme == "socks5h" || scheme == "socks";
    if (scheme != "http" && !socks) return std::nullopt;
    NetProxyEntry entry;
    entry.type = socks ? NetProxyEntry::Type::SOCKS : NetProxyEntry::Type::HTTP;
    entry.host = url->host();
    entry.port = url->port() ? *url->port() : (socks ? 1080 : 80);
    if (url->user()) entry.username = foundation::Url::percentDecode(*url->user());
    if (url->password()) entry.password = foundation::Url::percentDecode(*url->password());
    return entry;
}

NetSystemProxySettings NetSystemProxies::settingsFromEnvironment(const Environment& environment) {
    NetSystemProxySettings settings;
    std::optional<NetProxyEntry> all;
    if (const char* value = lookup(environment, "all_proxy", "ALL_PROXY"))
        all = parseProxyAddress(value);
    settings.httpProxy = all;
    settings.httpsProxy = all;
    if (const char* value = lookup(environment, "http_proxy", "HTTP_PROXY"))
        settings.httpProxy = parseProxyAddress(value);
    if (const char* value = lookup(environment, "https_proxy", "HTTPS_PROXY"))
        settings.httpsProxy = parseProxyAddress(value);
    if (const char* value = lookup(environment, "no_proxy", "NO_PROXY"))
        settings.bypass = NetProxyBypass::fromList(value);
    return settings;
}

std::optional<NetSystemProxySettings> NetSystemProxies::settingsFromGSettings(
    _GSettingsBackend* backend) {
    if (backend == nullptr) return NetProxySettingsWatch::ofDefaultBackend().current();
    return NetProxySettingsWatch(backend).current();
}

NetSystemProxySettings NetSystemProxies::copySystemProxySettings() {
    if (auto gnome = settingsFromGSettings()) return *gnome;
    return settingsFromEnvironment([](const char* name) { return std::getenv(name); });
}

std::vector<NetProxyEntry> NetSystemProxies::copyProxiesForURL(
    const foundation::Url& url, const NetSystemProxySettings& settings) {
    if (!settings.autoConfigurationURL.empty()) {
        NetProxyEntry entry;
        entry.type = NetProxyEntry::Type::AutoConfigurationURL;
        entry.autoConfigurationURL = settings.autoConfigurationURL;
        return {entry};
    }
    bool https = url.scheme() == "https";
    const auto& proxy = https ? settings.httpsProxy : settings.httpProxy;
    int port = url.port() ? *url.port() : (https ? 443 : 80);
    if (!proxy || settings.bypass.bypasses(url.host(), port)) return {};
    NetProxyEntry entry = *proxy;
    if (https && entry.type == NetProxyEntry::Type::HTTP) entry.type = NetProxyEntry::Type::HTTPS;
    return {entry};
}

}  // namespace net
