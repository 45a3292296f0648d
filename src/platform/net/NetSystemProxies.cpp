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

// The variables the settings come from, each name in both letter cases, lower case first.
constexpr std::array<std::string_view, 8> VariableNames = {
    "all_proxy", "ALL_PROXY", "http_proxy", "HTTP_PROXY",
    "https_proxy", "HTTPS_PROXY", "no_proxy", "NO_PROXY"};
using VariableValues = std::array<const char*, VariableNames.size()>;

// The value of the pair at `index` (the lower-case name's), or nullptr when neither is set.
const char* pick(const VariableValues& values, std::size_t index) {
    const char* value = values[index];
    if (value == nullptr || *value == '\0') value = values[index + 1];
    return value != nullptr && *value != '\0' ? value : nullptr;
}

NetSystemProxySettings settingsFromValues(const VariableValues& values) {
    NetSystemProxySettings settings;
    std::optional<NetProxyEntry> all;
    if (const char* value = pick(values, 0)) all = NetSystemProxies::parseProxyAddress(value);
    settings.httpProxy = all;
    settings.httpsProxy = all;
    if (const char* value = pick(values, 2))
        settings.httpProxy = NetSystemProxies::parseProxyAddress(value);
    if (const char* value = pick(values, 4))
        settings.httpsProxy = NetSystemProxies::parseProxyAddress(value);
    if (const char* value = pick(values, 6)) settings.bypass = NetProxyBypass::fromList(value);
    return settings;
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
    VariableValues values;
    for (std::size_t i = 0; i < VariableNames.size(); ++i)
        values[i] = environment(VariableNames[i].data());
    return settingsFromValues(values);
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
    VariableValues values{};
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const char* text = *entry;
        for (std::size_t i = 0; i < VariableNames.size(); ++i) {
            const std::string_view name = VariableNames[i];
            // The first of a name counts, as for getenv.
            if (text[0] == name[0] && values[i] == nullptr &&
                std::strncmp(text, name.data(), name.size()) == 0 && text[name.size()] == '=')
                values[i] = text + name.size() + 1;
        }
    }
    return settingsFromValues(values);
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
