#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

#include "DeviceFolderFixture.h"

using foundation::Value;

namespace {

class PluginChecksTest : public PluginTest {};

TEST_F(PluginChecksTest, EveryRequestPassesTheChecksInOrder) {
    WVMobileDeviceFilesystemPlugin::fileCommands()["device-test-throw"] =
        [](WVMobileDeviceFilesystemPlugin&, WVMobileDeviceFilesystemPlugin::Request&) -> Value {
        throw std::runtime_error("boom");
    };
    const std::string udid = device->uuid();
    const auto request = [](const char* cmd, const std::string& id, const std::string& path) {
        return Value::dict({{"cmd", cmd}, {"udid", id}, {"path", path}});
    };
    struct Case {
        const char* name;
        Value request;
        Value answer;
    };
    const Case cases[] = {
        {"no device- in the name", request("ls", udid, "/"),
         Value::dict({{"result", false},
                      {"error", Value::dict({{"message", "unhandled command: ls"}, {"unknown", true}})}})},
        {"paired, device gone", request("device-is-paired", "nobody", ""), data(Value::dict({{"removed", true}}))},
        {"paired", request("device-is-paired", udid, ""), data(Value::dict({{"paired", true}}))},
        {"unknown device", request("device-ls", "nobody", "/"), error("Couldn't find such device: nobody")},
        {"no device named", Value::dict({{"cmd", "device-ls"}, {"path", "/"}}),
         error("Couldn't find such device: (null)")},
        {"a number for a device", Value::dict({{"cmd", "device-ls"}, {"udid", 12}, {"path", "/"}}),
         error("Couldn't find such device: 12")},
        {"no command", Value::dict({{"udid", udid}, {"path", "/"}}),
         Value::dict({{"result", false},
                      {"error", Value::dict({{"message", "unhandled command: (null)"}, {"unknown", true}})}})},
        {"pair needs no path", request("device-pair", udid, ""), ok()},
        {"path needed", request("device-exists", udid, ""), error("Missing path or deviceId")},
        {"path needed by commands that do not use it", request("device-add-ringtone", udid, ""),
         error("Missing path or deviceId")},
        {"device- in the middle", request("my-device-thing", udid, "/"),
         error("unhandled device command: my-device-thing")},
        {"parent folder", request("device-ls", udid, "/Media/../.."), error("Invalid device path: /Media/../..")},
        {"empty component", request("device-ls", udid, "/a//b"), error("Invalid device path: /a//b")},
        {"NUL", request("device-ls", udid, std::string("/a\0b", 4)),
         error("Invalid device path: " + std::string("/a\0b", 4))},
        {"exception", request("device-test-throw", udid, "/"), error("CRITICAL Exception: boom")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ask(c.request), c.answer);
    }
    WVMobileDeviceFilesystemPlugin::fileCommands().erase("device-test-throw");

    devices.reset();
    EXPECT_EQ(ask(request("device-is-paired", udid, "/")), error("Delegate not settled."));
}

TEST(PathConfinementTest, LeadingAndTrailingSlashesAndDotsInNamesPass) {
    for (const char* path : {"/", "a", "/a/b", "/a/b/", "/.OrvandelDisk/x", "/a/..b", "/a/b..", "/./a"})
        EXPECT_TRUE(WVMobileDeviceFilesystemPlugin::isConfinedDevicePath(path)) << path;
    for (const char* path : {"..", "/..", "/a/../b", "a/..", "//a", "/a//", "a///b"})
        EXPECT_FALSE(WVMobileDeviceFilesystemPlugin::isConfinedDevicePath(path)) << path;
}

TEST_F(PluginChecksTest, TwoServicesOfOneDeviceListedAtOnceEachSeeTheirOwnFiles) {
    put(media(), "Media/song.mp3", "m");
    put(container(), "Documents/Media/note.txt", "n");
    const Value mediaAnswer = on("device-ls", "/Media");
    const Value appAnswer = on("device-ls", "/Documents/Media", {{"type", "app"}, {"appid", kAppId}});
    ASSERT_EQ(mediaAnswer["data"]["properties"][0]["name"], "song.mp3");
    ASSERT_EQ(appAnswer["data"]["properties"][0]["name"], "note.txt");

    constexpr int kRounds = 150;
    int wrong = 0;
    std::mutex wrongMutex;
    const auto run = [&](const Value& request, const Value& expected) {
        for (int i = 0; i < kRounds; ++i) {
            Value answer;
            plugin->process(request, [&](const Value& reply) { answer = reply; });
            if (answer != expected) {
                std::lock_guard lock(wrongMutex);
                ++wrong;
            }
        }
    };
    std::thread a(run, Value::dict({{"cmd", "device-ls"}, {"udid", device->uuid()}, {"path", "/Media"}}),
                  mediaAnswer);
    std::thread b(run,
                  Value::dict({{"cmd", "device-ls"}, {"udid", device->uuid()}, {"path", "/Documents/Media"},
                               {"type", "app"}, {"appid", kAppId}}),
                  appAnswer);
    a.join();
    b.join();
    EXPECT_EQ(wrong, 0);
}

// The main window's plugin is made once: a second set-up, for whatever bridge, leaves the
// first instance and its one "mdfs" handler as they were.
TEST(MobileDevicePluginSetUp, TwiceLeavesOneInstanceAndOneRegistration) {
    const auto first = testsupport::HeadlessFront::open();
    const auto second = testsupport::HeadlessFront::open();
    const auto devices = std::make_shared<DeviceList>();
    WVMobileDeviceFilesystemPlugin::setupWithBridgeWebviewDelegate(first, {}, devices);
    const auto made = WVMobileDeviceFilesystemPlugin::sharedInstance();
    ASSERT_NE(made, nullptr);
    WVMobileDeviceFilesystemPlugin::setupWithBridgeWebviewDelegate(first, {}, devices);
    WVMobileDeviceFilesystemPlugin::setupWithBridgeWebviewDelegate(second, {}, devices);
    EXPECT_EQ(WVMobileDeviceFilesystemPlugin::sharedInstance(), made);
    EXPECT_EQ(first->base().messageHandlers().count("mdfs"), 1u);
    EXPECT_EQ(second->base().messageHandlers().count("mdfs"), 0u);
    EXPECT_EQ(made->delegate(), devices);
}

}  // namespace
