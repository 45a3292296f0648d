#include "platform/net/NetProxySettingsWatch.h"

#include <gio/gio.h>

#include <string>
#include <vector>

namespace net {

namespace {

// Settings of an installed schema, or nullptr.
GSettings* makeSettings(const char* schemaId, GSettingsBackend* backend) {
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    if (source == nullptr) return nullptr;
    GSettingsSchema* schema = g_settings_schema_source_lookup(source, schemaId, TRUE);
    if (schema == nullptr) return nullptr;
    g_settings_schema_unref(schema);
    return backend != nullptr ? g_settings_new_with_backend(schemaId, backend)
                              : g_settings_new(schemaId);
}

std::string stringSetting(GSettings* settings, const char* key) {
    gchar* value = g_settings_get_string(settings, key);
    std::string out = value != nullptr ? value : "";
    g_free(value);
    return out;
}

std::optional<NetProxyEntry> manualProxy(GSettings* settings,
                                         NetProxyEntry::Type type = NetProxyEntry::Type::HTTP) {
    if (settings == nullptr) return std::nullopt;
    std::string host = stringSetting(settings, "host");
    int port = g_settings_get_int(settings, "port");
    if (host.empty() || port <= 0 || port > 65535) return std::nullopt;
    NetProxyEntry entry;
    entry.type = type;
    entry.host = host;
    entry.port = port;
    return entry;
}

void noteChange(GSettings*, gchar*, gpointer changes) {
    static_cast<std::atomic<unsigned>*>(changes)->fetch_add(1);
}

}  // namespace

NetProxySettingsWatch::NetProxySettingsWatch(GSettingsBackend* backend)
    : notices_(g_main_context_new()) {
    // Settings objects send their notices to the context that was the thread's default
    // when they were made.
    g_main_context_push_thread_default(notices_);
    for (auto [settings, schemaId] : {std::pair{&proxy_, "org.gnome.system.proxy"},
                                      {&http_, "org.gnome.system.proxy.http"},
                                      {&https_, "org.gnome.system.proxy.https"},
                                      {&socks_, "org.gnome.system.proxy.socks"}}) {
        *settings = makeSettings(schemaId, backend);
        if (*settings != nullptr)
            g_signal_connect(*settings, "changed", G_CALLBACK(noteChange), &changes_);
    }
    g_main_context_pop_thread_default(notices_);
}

NetProxySettingsWatch::~NetProxySettingsWatch() {
    for (GSettings* settings : {proxy_, http_, https_, socks_}) {
        if (settings == nullptr) continue;
        g_signal_handlers_disconnect_by_data(settings, &changes_);
        g_object_unref(settings);
    }
    // Notices still waiting hold the settings objects they are for; dispatched, they go.
    while (g_main_context_iteration(notices_, FALSE)) {
    }
    g_main_context_unref(notices_);
}

NetProxySettingsWatch& NetProxySettingsWatch::ofDefaultBackend() {
    // Never destroyed: requests may still look at it while the process exits.
    static auto* watch = new NetProxySettingsWatch();
    return *watch;
}

std::optional<NetSystemProxySettings> NetProxySettingsWatch::current() {
    std::lock_guard guard(lock_);
    if (proxy_ == nullptr) return std::nullopt;
    // Notices the backend has sent so far: each one bumps the change count. They wait as
    // sources that are ready at once, so asking the context whether any is ready says if
    // there are any, without the poll a whole turn of it would make.
    gint priority = 0;
    bool waiting = true;
    if (g_main_context_acquire(notices_)) {
        waiting = g_main_context_prepare(notices_, &priority) != FALSE;
        g_main_context_release(notices_);
    }
    if (waiting) {
        while (g_main_context_iteration(notices_, FALSE)) {
        }
    }
    unsigned changes = changes_.load();
    if (!haveRead_ || changes != changesWhenRead_) {
        settings_ = read();
        ++readCount_;
        haveRead_ = true;
        changesWhenRead_ = changes;
    }
    return settings_;
}

unsigned NetProxySettingsWatch::readCount() const {
    std::lock_guard guard(lock_);
    return readCount_;
}

std::optional<NetSystemProxySettings> NetProxySettingsWatch::read() const {
    std::string mode = stringSetting(proxy_, "mode");
    if (mode != "manual" && mode != "auto") return std::nullopt;
    NetSystemProxySettings settings;
    if (mode == "auto") {
        settings.autoConfigurationURL = stringSetting(proxy_, "autoconfig-url");
        settings.automaticWithoutScript = settings.autoConfigurationURL.empty();
        return settings;
    }
    auto socks = manualProxy(socks_, NetProxyEntry::Type::SOCKS);
    settings.httpProxy = manualProxy(http_);
    settings.httpsProxy = manualProxy(https_);
    if (!settings.httpProxy) settings.httpProxy = socks;
    if (!settings.httpsProxy) settings.httpsProxy = socks;
    gchar** ignored = g_settings_get_strv(proxy_, "ignore-hosts");
    std::vector<std::string> patterns;
    for (gchar** item = ignored; item != nullptr && *item != nullptr; ++item)
        patterns.emplace_back(*item);
    g_strfreev(ignored);
    settings.bypass = NetProxyBypass(std::move(patterns));
    return settings;
}

}  // namespace net
