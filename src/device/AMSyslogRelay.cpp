#include "device/AMSyslogRelay.h"

#include <glib-unix.h>
#include <glib.h>

#include <cstdint>
#include <vector>

#include "logging/LogCall.h"

std::shared_ptr<AMSyslogRelay> AMSyslogRelay::create(const std::shared_ptr<AMDevice>& device) {
    auto relay = std::make_shared<AMSyslogRelay>();
    if (!relay->startOnDevice(kServiceName, device)) return nullptr;
    return relay;
}

std::shared_ptr<AMSyslogRelay> AMSyslogRelay::withSocket(int socket) {
    auto relay = std::make_shared<AMSyslogRelay>();
    relay->adoptSocket(socket, kServiceName);
    return relay;
}

AMSyslogRelay::~AMSyslogRelay() {
    stopWatching();
}

bool AMSyslogRelay::listenWith(Listener listener) {
    listener_ = std::move(listener);
    stopWatching();
    if (!isValidService() || sock() < 0) {
        setLasterror("couldn't create read stream");
        return false;
    }
    source_ =
        g_unix_fd_source_new(sock(), static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR));
    // The source holds the relay weakly: destroying the relay removes the source.
    auto* owner = new std::weak_ptr<AMSyslogRelay>(weak_from_this());
    g_source_set_callback(
        source_, G_SOURCE_FUNC(+[](gint, GIOCondition, gpointer data) -> gboolean {
            auto relay = static_cast<std::weak_ptr<AMSyslogRelay>*>(data)->lock();
            return relay && relay->readAvailable() ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
        }),
        owner, [](gpointer data) { delete static_cast<std::weak_ptr<AMSyslogRelay>*>(data); });
    g_source_attach(source_, g_main_context_default());
    return true;
}

bool AMSyslogRelay::isListening() const {
    return source_ && !g_source_is_destroyed(source_);
}

bool AMSyslogRelay::readAvailable() {
    std::vector<std::uint8_t> buffer(kReadLength);
    const long count = receive(buffer.data(), buffer.size(), 0);
    const auto deliver = [this](const std::string& message) {
        if (listener_) listener_(message);
    };
    if (count <= 0) {
        // The device has gone: what it sent last still counts.
        reader_.finish(deliver);
        LogInfo("{} stream ended: {}", kServiceName, count);
        return false;
    }
    reader_.feed({buffer.data(), static_cast<std::size_t>(count)}, deliver);
    return true;
}

void AMSyslogRelay::stopWatching() {
    if (!source_) return;
    g_source_destroy(source_);
    g_source_unref(source_);
    source_ = nullptr;
}
