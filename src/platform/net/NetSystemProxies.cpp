#include "platform/net/NetSystemProxies.h"

#include <gio/gio.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace net {

namespace {

const char* lookup(const NetSystemProxies::Environment& environment, const char* lower,
                   const char* upper) {
    const char* value = environment(lower);
    if (value == nullptr || *value == '\0') value = environment(upper);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

struct SettingsUnref {
    void operator()(GSettings* settings) const { g_object_unref(settings); }
};
using SettingsPtr = std::unique_ptr<GSettings, SettingsUnref>;

SettingsPtr makeSettings(const char* schemaId, GSettingsBackend* backend) {
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    if (source == nullptr) return nullptr;
    GSettingsSchema* schema = g_settings_schema_source_lookup(source, schemaId, TRUE);
    if (schema == nullptr) return nullptr;
    g_settings_schema_unref(schema);
    return SettingsPtr(backend != nullptr ? g_settings_new_with_backend(schemaId, backend)
                                          : g_settings_new(schemaId));
}

// Settings of an installed schema, or nullptr. Those of the default backend are made once
// per thread, since every request reads them: made afresh each time they cost more than a
// small request (the backend starts and stops watching them). Reads still go to the
// backend, so they see changes.
SettingsPtr settingsFor(const char* schemaId, GSettingsBackend* backend) {
    if (backend != nullptr) return makeSettings(schemaId, backend);
    thread_local std::map<std::string, SettingsPtr, std::less<>> made;
    auto found = made.find(std::string_view(schemaId));
    if (found == made.end()) found = made.emplace(schemaId, makeSettings(schemaId, nullptr)).first;
    if (!found->second) return nullptr;
    return SettingsPtr(G_SETTINGS(g_object_ref(found->second.get())));
}

std::string stringSetting(GSettings* settings, const char* key) {
    gchar* value = g_settings_get_string(settings, key);
    std::string out = value != nullptr ? value : "";
    g_free(value);
    return out;
}

std::optional<NetProxyEntry> manualProxy(const char* schemaId, GSettingsBackend* backend,
                                         NetProxyEntry::Type type = NetProxyEntry::Type::HTTP) {
    auto settings = settingsFor(schemaId, backend);
    if (!settings) return std::nullopt;
    std::string host = stringSetting(settings.get(), "host");
    int port = g_settings_get_int(settings.get(), "port");
    if (host.empty() || port <= 0 || port > 65535) return std::nullopt;
    NetProxyEntry entry;
    entry.type = type;
    entry.host = host;
    entry.port = port;
    return entry;
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
    GSettingsBackend* backend) {
    auto proxy = settingsFor("org.gnome.system.proxy", backend);
    if (!proxy) return std::nullopt;
    std::string mode = stringSetting(proxy.get(), "mode");
    if (mode != "manual" && mode != "auto") return std::nullopt;
    NetSystemProxySettings settings;
    if (mode == "auto") {
        settings.autoConfigurationURL = stringSetting(proxy.get(), "autoconfig-url");
        settings.automaticWithoutScript = settings.autoConfigurationURL.empty();
        return settings;
    }
    auto socks = manualProxy("org.gnome.system.proxy.socks", backend, NetProxyEntry::Type::SOCKS);
    settings.httpProxy = manualProxy("org.gnome.system.proxy.http", backend);
    settings.httpsProxy = manualProxy("org.gnome.system.proxy.https", backend);
    if (!settings.httpProxy) settings.httpProxy = socks;
    if (!settings.httpsProxy) settings.httpsProxy = socks;
    gchar** ignored = g_settings_get_strv(proxy.get(), "ignore-hosts");
    std::vector<std::string> patterns;
    for (gchar** item = ignored; item != nullptr && *item != nullptr; ++item)
        patterns.emplace_back(*item);
    g_strfreev(ignored);
    settings.bypass = NetProxyBypass(std::move(patterns));
    return settings;
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
