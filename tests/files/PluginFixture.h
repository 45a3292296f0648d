#pragma once

#include <map>
#include <memory>
#include <string>

#include "DeviceFolderFixture.h"
#include "files/WVMobileDeviceFilesystemPlugin.h"
#include "support/headlesspage/HeadlessFront.h"

// Finds the devices it was given.
class DeviceList : public WVMobileDeviceFileSystemPluginDelegate {
public:
    std::shared_ptr<iMobileDevice> findMobileDeviceById(const std::string& deviceId) override {
        const auto found = devices.find(deviceId);
        return found == devices.end() ? nullptr : found->second;
    }
    std::map<std::string, std::shared_ptr<iMobileDevice>> devices;
};

// An "mdfs" plugin over the fake phone, asked directly (as its background job would).
class PluginTest : public DeviceFolderTest {
protected:
    PluginTest() {
        devices->devices[device->uuid()] = device;
        plugin = WVMobileDeviceFilesystemPlugin::create(front, {}, devices);
    }

    // The one reply to a request (nil when none came).
    foundation::Value ask(const foundation::Value& request) {
        foundation::Value answer;
        int replies = 0;
        plugin->process(request, [&](const foundation::Value& reply) {
            answer = reply;
            ++replies;
        });
        EXPECT_LE(replies, 1);
        return answer;
    }
    // A request for the fake phone.
    foundation::Value on(const char* cmd, const std::string& path,
                         std::initializer_list<std::pair<const std::string, foundation::Value>> more = {}) {
        foundation::Value request = foundation::Value::dict(more);
        request.set("cmd", cmd);
        request.set("udid", device->uuid());
        request.set("path", path);
        return ask(request);
    }

    static foundation::Value ok() { return foundation::Value::dict({{"result", true}}); }
    static foundation::Value no() { return foundation::Value::dict({{"result", false}}); }
    static foundation::Value data(foundation::Value payload) {
        return foundation::Value::dict({{"result", true}, {"data", std::move(payload)}});
    }
    static foundation::Value error(const std::string& text) {
        return foundation::Value::dict({{"result", false}, {"error", text}});
    }

    std::shared_ptr<testsupport::HeadlessFront> front = testsupport::HeadlessFront::open();
    std::shared_ptr<DeviceList> devices = std::make_shared<DeviceList>();
    std::shared_ptr<WVMobileDeviceFilesystemPlugin> plugin;
};
