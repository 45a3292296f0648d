#pragma once

#include <atomic>
#include <mutex>
#include <optional>

#include "platform/net/NetSystemProxies.h"

struct _GMainContext;
struct _GSettings;
struct _GSettingsBackend;

namespace net {

// GNOME's proxy settings as last read, read again only once the settings backend has told
// of a change: reading them costs more than a small request on a kept connection. The
// backend's notices wait in a main context of the watch's own, which every look at the
// settings dispatches first, so a change the backend has announced before the look is
// always seen by it, whichever thread made it. Usable from any thread.
class NetProxySettingsWatch {
public:
    // Watches the settings of `backend`, or of the default backend when none is given.
    explicit NetProxySettingsWatch(_GSettingsBackend* backend = nullptr);
    ~NetProxySettingsWatch();
    NetProxySettingsWatch(const NetProxySettingsWatch&) = delete;
    NetProxySettingsWatch& operator=(const NetProxySettingsWatch&) = delete;

    // The watch of the default backend, made on first use and kept for the process.
    static NetProxySettingsWatch& ofDefaultBackend();

    // nullopt without the schema, or when its mode says "none".
    std::optional<NetSystemProxySettings> current();
    // How many times the settings were read from the backend.
    unsigned readCount() const;

private:
    std::optional<NetSystemProxySettings> read() const;

    _GMainContext* notices_ = nullptr;
    _GSettings* proxy_ = nullptr;  // nullptr without the schema
    _GSettings* http_ = nullptr;
    _GSettings* https_ = nullptr;
    _GSettings* socks_ = nullptr;

    mutable std::mutex lock_;
    // Bumped by each change notice; read under lock_ (the notices run while it is held).
    std::atomic<unsigned> changes_{0};
    unsigned changesWhenRead_ = 0;
    bool haveRead_ = false;
    unsigned readCount_ = 0;
    std::optional<NetSystemProxySettings> settings_;
};

}  // namespace net
