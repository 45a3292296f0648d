#pragma once

#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "device/AMDevice.h"
#include "device/MobileDeviceHub.h"
#include "platform/mobiledevice/AMDeviceHandle.h"
#include "simdevice/SimUsbmuxServer.h"

namespace devicetest {

// Records what the hub tells its listener.
class RecordingListener : public MobileDeviceHubListener {
public:
    void deviceConnected(const std::shared_ptr<AMDevice>& device) override {
        connected.push_back(device);
    }
    void deviceDisconnected(const std::shared_ptr<AMDevice>& device) override {
        disconnected.push_back(device);
        if (onDisconnected) onDisconnected(device);
    }
    std::function<void(const std::shared_ptr<AMDevice>&)> onDisconnected;
    std::vector<std::shared_ptr<AMDevice>> connected;
    std::vector<std::shared_ptr<AMDevice>> disconnected;
};

// A simulated multiplexer for the test, found by the real libimobiledevice through
// USBMUXD_SOCKET_ADDRESS. The socket path is fixed per process, since the client library
// may keep the address it read first.
class SimulatorTest : public ::testing::Test {
protected:
    void SetUp() override {
        // libimobiledevice writes TLS records with write(2): a device that hangs up would
        // end the process with SIGPIPE, so the process ignores it, as the application must.
        ::signal(SIGPIPE, SIG_IGN);
        const auto path = std::filesystem::temp_directory_path() /
                          ("orvandel-simdevice-" + std::to_string(::getpid()) + ".sock");
        server = std::make_unique<simdevice::SimUsbmuxServer>(path.string());
        ASSERT_TRUE(server->start());
        ::setenv("USBMUXD_SOCKET_ADDRESS", server->socketAddress().c_str(), 1);
    }
    void TearDown() override {
        hub.reset();
        server->stop();
    }

    static simdevice::SimDeviceConfig configFor(std::string udid, bool network = false) {
        simdevice::SimDeviceConfig config;
        config.udid = std::move(udid);
        config.network = network;
        return config;
    }

    std::shared_ptr<simdevice::SimDevice> attachPaired(simdevice::SimDeviceConfig config = {}) {
        auto device = server->attach(std::move(config));
        server->pairHost(device);
        return device;
    }

    // An AMDevice for a simulated device, made the way the hub makes it, with the time
    // limits for its exchanges.
    std::shared_ptr<AMDevice> amDevice(const std::shared_ptr<simdevice::SimDevice>& device,
                                       const mobiledevice::DeviceTimeLimits& limits = {}) {
        auto handle = std::make_shared<mobiledevice::AMDeviceHandle>(
            device->config().udid, device->deviceId(),
            device->config().network ? mobiledevice::kAMDInterfaceWiFi
                                     : mobiledevice::kAMDInterfaceUSB);
        handle->limits = limits;
        return AMDevice::deviceFrom(handle);
    }

    std::unique_ptr<simdevice::SimUsbmuxServer> server;
    std::unique_ptr<MobileDeviceHub> hub = std::make_unique<MobileDeviceHub>();
};

}  // namespace devicetest
