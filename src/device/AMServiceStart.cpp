// Starting an AMService on a device.

#include <unistd.h>

#include "device/AMDevice.h"
#include "device/AMService.h"

std::shared_ptr<AMService> AMService::serviceWithName(const std::string& name,
                                                      const std::shared_ptr<AMDevice>& device) {
    auto service = std::make_shared<AMService>();
    if (!service->startOnDevice(name, device)) return nullptr;
    return service;
}

bool AMService::startOnDevice(const std::string& name, const std::shared_ptr<AMDevice>& device,
                              const foundation::Value& options) {
    return startWith(name, device, [&](AMDevice& target, AMServiceHandle& handle, bool& secure) {
        return target.startServiceWithOptionsReturnHandleSecure(name, options, &handle, &secure);
    });
}

bool AMService::startOnDeviceSecure(const std::string& name,
                                    const std::shared_ptr<AMDevice>& device,
                                    const foundation::Value& options, bool secure) {
    return startWith(name, device, [&](AMDevice& target, AMServiceHandle& handle, bool& used) {
        used = secure;
        return target.startServiceOutServiceConnectionOptionsInSecure(name, &handle, options,
                                                                      secure);
    });
}

// The old socket is given up only once the device has handed over the new connection.
bool AMService::startWith(const std::string& name, const std::shared_ptr<AMDevice>& device,
                          const DeviceStart& start) {
    if (!device) return false;
    device_ = device;
    delegate_.reset();
    AMServiceHandle handle;
    bool secure = false;
    if (!start(*device, handle, secure)) return false;
    if (socket_ >= 0) ::close(socket_);
    socket_ = handle.socket;
    connection_ = std::move(handle.connection);
    secureConnection_ = secure;
    replyTimeoutMs_ = mobiledevice::limitMs(device->timeLimits().serviceReply);
    std::lock_guard lock(nameMutex_);
    servicename_ = name;
    return true;
}
