#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "shell/plugins/WVEventPlugin.h"

// The "system" event: open a URL with the user's default application, the device-model
// information file ("icons-info"), and a description of the computer ("get-sysinfo").
// Runs on the background pool.
class SystemEventHandler : public WVEventHandler {
public:
    // Where the handler looks; tests point it at fixtures.
    struct Environment {
        std::string procRoot = "/proc";
        std::string sysRoot = "/sys";
        // The property list whose "UTExportedTypeDeclarations" "icons-info" answers; empty:
        // "MobileDevices.plist" in the bundle.
        std::string iconsInfoPath;
        // Opens an allowed URL; empty: the desktop's default application.
        std::function<bool(const std::string& url)> openURL;
    };

    SystemEventHandler() = default;
    explicit SystemEventHandler(Environment environment) : env_(std::move(environment)) {}

    static WVEventPlugin::HandlerClass handlerClass();

    void handleRequestEventPluginCallback(const foundation::Value& request,
                                          const std::shared_ptr<WVEventPlugin>& eventPlugin,
                                          WVBridgeResponseCallback callback) override;

    // {"major", "minor", "patch"} of the kernel release; zeros when it cannot be read.
    static foundation::Value osversion(const std::string& procRoot);
    // The machine's serial number (DMI); empty when it cannot be read (it is root's only).
    static std::string sysID(const std::string& sysRoot);
    // The processor's model name; "Unknown" when none is named, "" when unreadable.
    static std::string sysCPU(const std::string& procRoot);
    // The memory in bytes; 0 when unreadable.
    static std::uint64_t sysMemCapacity(const std::string& procRoot);

    // Whether "openurl" may open the URL: web and mail addresses, and local files that
    // start no program.
    static bool urlMayBeOpened(const std::string& url);

private:
    Environment env_;
};
