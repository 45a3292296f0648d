#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "foundation/Value.h"
#include "simdevice/SimDevice.h"
#include "simdevice/SimNetworkPorts.h"
#include "simdevice/SimWire.h"
#include "simdevice/SimWorkers.h"

namespace simdevice {

// A device multiplexer on a Unix socket, speaking the property-list protocol: device list,
// listen with attach and detach notices, connect to a device port, pair records and the
// host's BUID. Clients find it through USBMUXD_SOCKET_ADDRESS ("UNIX:<path>").
class SimUsbmuxServer {
public:
    explicit SimUsbmuxServer(std::string socketPath);
    ~SimUsbmuxServer();
    SimUsbmuxServer(const SimUsbmuxServer&) = delete;
    SimUsbmuxServer& operator=(const SimUsbmuxServer&) = delete;

    // Listens on the socket path; false (errno EADDRINUSE) when another server still
    // answers there: a stale socket file is replaced, a served one never.
    bool start();
    static bool isServed(const std::string& path);
    void stop();
    const std::string& socketPath() const { return socketPath_; }
    // The value for USBMUXD_SOCKET_ADDRESS.
    std::string socketAddress() const { return "UNIX:" + socketPath_; }

    std::shared_ptr<SimDevice> attach(SimDeviceConfig config);
    void detach(const std::shared_ptr<SimDevice>& device);
    int listenerCount() const;

    // Makes the device trust a pair record of this host, as if paired before.
    void pairHost(const std::shared_ptr<SimDevice>& device);
    bool hasPairRecord(const std::string& udid) const;
    const std::string& buid() const { return buid_; }

private:
    void acceptLoop();
    void serveClient(int fd);
    // Handles one request; false when the connection is finished (or was handed over).
    bool handle(int fd, const MuxMessage& message);
    bool connect(int fd, std::uint32_t tag, const foundation::Value& request);
    std::shared_ptr<SimDevice> findDevice(std::uint32_t deviceId) const;

    const std::string socketPath_;
    const std::string buid_;
    int listenFd_ = -1;
    ino_t socketInode_ = 0;
    int wakePipe_[2] = {-1, -1};
    std::thread acceptThread_;
    std::atomic<bool> running_{false};

    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<SimDevice>> devices_;
    std::uint32_t nextDeviceId_ = 1;
    std::set<int> listeners_;
    std::map<std::string, foundation::Data> pairRecords_;
    // The TCP side of each network-attached device.
    std::map<const SimDevice*, std::unique_ptr<SimNetworkPorts>> networkPorts_;
    SimWorkers workers_;
};

}  // namespace simdevice
