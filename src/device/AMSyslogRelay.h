#pragma once

#include <functional>
#include <memory>
#include <string>

#include "device/AMService.h"
#include "device/SyslogMessageReader.h"

typedef struct _GSource GSource;

// The device's system log, message by message, to a listener on the main thread. The
// socket is watched on the main loop from listenWith() until the device closes it or the
// relay is destroyed.
class AMSyslogRelay : public AMService, public std::enable_shared_from_this<AMSyslogRelay> {
public:
    static constexpr const char* kServiceName = "com.apple.syslog_relay";
    static constexpr std::size_t kReadLength = 16384;
    using Listener = std::function<void(const std::string& message)>;

    static std::shared_ptr<AMSyslogRelay> create(const std::shared_ptr<AMDevice>& device);
    // Over an open socket (tests).
    static std::shared_ptr<AMSyslogRelay> withSocket(int socket);
    ~AMSyslogRelay() override;

    // Keeps the listener and starts watching the socket. False, with lasterror set, when
    // there is nothing to watch; the relay then stays idle.
    bool listenWith(Listener listener);
    bool isListening() const;

private:
    // One read of what is waiting; false once the stream has ended.
    bool readAvailable();
    void stopWatching();

    Listener listener_;
    SyslogMessageReader reader_;
    GSource* source_ = nullptr;
};
