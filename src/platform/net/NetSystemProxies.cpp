#include "platform/net/NetSystemProxies.h"

#include <unistd.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

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
    // Read afresh for every request, so that a variable the program sets counts from then
    // on; but in one pass over the environment rather than one per name.
    constexpr std::array<std::string_view, 8> names = {"all_proxy", "ALL_PROXY",  "http_proxy",
                                                       "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
                                                       "no_proxy",  "NO_PROXY"};
    std::array<const char*, names.size()> values{};
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const char* text = *entry;
        if (std::string_view("aAhHnN").find(text[0]) == std::string_view::npos) continue;
        for (std::size_t i = 0; i < names.size(); ++i) {
            // The first of a name counts, as for getenv.
            if (values[i] == nullptr && std::strncmp(text, names[i].data(), names[i].size()) == 0 &&
                text[names[i].size()] == '=')
                values[i] = text + names[i].size() + 1;
        }
    }
    return settingsFromEnvironment([&](const char* name) -> const char* {
        for (std::size_t i = 0; i < names.size(); ++i)
            if (names[i] == name) return values[i];
        return nullptr;
    });
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
