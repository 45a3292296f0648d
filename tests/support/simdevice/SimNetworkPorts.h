#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "simdevice/SimDevice.h"
#include "simdevice/SimWorkers.h"

namespace simdevice {

// The network side of a device listed as network-attached: clients reach it over TCP at a
// loopback address of its own (127.x.y.z, so that simulators running side by side do not
// meet), on the lockdown port and on each service port it hands out. Each connection is
// served as the multiplexer's Connect serves it.
class SimNetworkPorts {
public:
    explicit SimNetworkPorts(std::shared_ptr<SimDevice> device);
    ~SimNetworkPorts();
    SimNetworkPorts(const SimNetworkPorts&) = delete;
    SimNetworkPorts& operator=(const SimNetworkPorts&) = delete;

    // Takes an address and listens on its lockdown port; false when none could be had.
    bool start();
    // Listens on one more port; false when it is taken or the ports have stopped.
    bool listen(std::uint16_t port);
    // Ends every connection and listening.
    void stop();
    std::array<std::uint8_t, 4> address() const { return address_; }

private:
    int bound(std::uint16_t port) const;
    void acceptLoop();

    const std::shared_ptr<SimDevice> device_;
    std::array<std::uint8_t, 4> address_{127, 0, 0, 1};
    std::atomic<bool> running_{false};
    int wakePipe_[2] = {-1, -1};
    std::thread acceptThread_;
    std::mutex mutex_;
    std::map<int, std::uint16_t> listening_;  // descriptor to port
    SimWorkers workers_;
};

}  // namespace simdevice
