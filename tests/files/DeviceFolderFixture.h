#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "fakedevice/FakeMobileDevice.h"
#include "files/WVMobileDeviceFilesystemPlugin.h"
#include "foundation/Json.h"
#include "foundation/ScratchFolder.h"
#include "support/headlesspage/HeadlessFront.h"

namespace foundation {
// Values show as JSON in test failures.
inline void PrintTo(const Value& value, std::ostream* out) { *out << json::write(value); }
}  // namespace foundation

// A fake phone over a scratch folder: "media" is its media area and "app" the container
// of the application "com.example.notes".
class DeviceFolderTest : public testing::Test {
protected:
    static constexpr const char* kAppId = "com.example.notes";

    DeviceFolderTest() {
        std::filesystem::create_directories(container() + "/Documents");
        std::filesystem::create_directories(media());
        device->addApplication({kAppId, "Notes", container(), true, {}});
    }
    std::string media() const { return folder / "media"; }
    std::string container() const { return folder / "app"; }
    // Makes a file (and its folders) below `root`.
    static void put(const std::string& root, const std::string& path, const std::string& content) {
        const std::filesystem::path file = root + "/" + path;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << content;
    }
    static std::string read(const std::string& file) {
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    foundationtest::ScratchFolder folder;
    std::shared_ptr<testsupport::FakeMobileDevice> device =
        std::make_shared<testsupport::FakeMobileDevice>(folder / "media");
};

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
    using Value = foundation::Value;
    PluginTest() { devices->devices[device->uuid()] = device; }

    // The one reply to a request (nil when none came).
    Value ask(const Value& request) {
        Value answer;
        int replies = 0;
        plugin->process(request, [&](const Value& reply) {
            answer = reply;
            ++replies;
        });
        EXPECT_LE(replies, 1);
        return answer;
    }
    // A request for the fake phone.
    Value on(const char* cmd, const std::string& path,
             std::initializer_list<std::pair<const std::string, Value>> more = {}) {
        Value request = Value::dict(more);
        request.set("cmd", cmd);
        request.set("udid", device->uuid());
        request.set("path", path);
        return ask(request);
    }
    static Value ok() { return Value::dict({{"result", true}}); }
    static Value no() { return Value::dict({{"result", false}}); }
    static Value data(Value payload) { return Value::dict({{"result", true}, {"data", std::move(payload)}}); }
    static Value error(const std::string& text) { return Value::dict({{"result", false}, {"error", text}}); }

    std::shared_ptr<DeviceList> devices = std::make_shared<DeviceList>();
    std::shared_ptr<WVMobileDeviceFilesystemPlugin> plugin =
        WVMobileDeviceFilesystemPlugin::create(testsupport::HeadlessFront::open(), {}, devices);
};
