// The application delegate's devices, further windows, menu actions and media-loading
// notices.
#include <cstdlib>

#include <fmt/format.h>

#include "shell/AppDevice.h"
#include "foundation/Json.h"
#include "logging/Console.h"
#include "shell/KolvexAppDelegate.h"
#include "shell/ShellNotifications.h"
#include "shell/bridge/WKWebViewScriptBridge.h"
#include "shell/plugins/WVPluginBase.h"
#include "shell/windows/WVWindowController.h"

using foundation::Value;

namespace {

constexpr std::int32_t kDiskModeiPod = 512;

void postDeviceNotification(const char* cmd, Value device) {
    foundation::NotificationCenter::defaultCenter().post(
        kIDeviceNotification, nullptr, {{"cmd", Value(cmd)}, {"device", std::move(device)}});
}

}  // namespace

Value KolvexAppDelegate::jsonOfDevice(AppDevice& device) {
    const std::int32_t type = device.deviceType();
    // A disk-mode iPod has no device service to ask.
    const std::int32_t lastError = type == kDiskModeiPod ? 0 : device.lastErrorCode();
    Value summary = Value::dict({
        {"deviceType", type},
        {"name", device.name()},
        {"totalCapacity", device.capacity()},
        {"freeCapacity", device.freeCapacity()},
        {"serial", device.serialNumber().value_or("")},
        {"phonenumber", device.phoneNumber().value_or("")},
        {"model", device.modelNumber().value_or("")},
        {"firmware", device.firmwareVersion().value_or("")},
        {"osversion", device.osVersion().value_or("")},
        {"buildversion", device.buildVersion().value_or("")},
        {"deviceId", device.uuid()},
        {"lastErrorCode", lastError},
    });
    // The page shows a failure in words, with the code beside them.
    if (lastError != 0) summary.set("lastErrorText", device.statusText(lastError));
    return summary;
}

void KolvexAppDelegate::postAddedDevice(const std::shared_ptr<AppDevice>& device) {
    Value summary = jsonOfDevice(*device);
    if (_wkbridge) _wkbridge->callHandler("deviceAdded", summary);
    postDeviceNotification("added", std::move(summary));
}

void KolvexAppDelegate::DeviceAdded(const std::shared_ptr<AppDevice>& device) {
    if (!device) return;
    {
        std::lock_guard lock(lock_);
        _devices.push_back(device);
    }
    postAddedDevice(device);
}

void KolvexAppDelegate::DeviceRemoved(const std::shared_ptr<AppDevice>& device) {
    if (!device) return;
    const std::string deviceId = device->uuid();
    if (services_.cancelMatching) services_.cancelMatching(deviceId);
    if (_wkbridge) _wkbridge->callHandler("deviceRemoved", Value::dict({{"deviceId", deviceId}}));
    {
        std::lock_guard lock(lock_);
        for (auto it = _devices.begin(); it != _devices.end(); ++it) {
            if ((*it)->uuid() == deviceId) {
                _devices.erase(it);
                break;
            }
        }
    }
    if (services_.dropMediaLoader) services_.dropMediaLoader(deviceId);
    postDeviceNotification("removed", Value::dict({{"deviceId", deviceId}}));
}

std::shared_ptr<AppDevice> KolvexAppDelegate::findMobileDeviceById(
    const std::string& deviceId) const {
    std::lock_guard lock(lock_);
    for (const auto& device : _devices) {
        if (device->uuid() == deviceId) return device;
    }
    return nullptr;
}

std::vector<std::shared_ptr<AppDevice>> KolvexAppDelegate::devices() const {
    std::lock_guard lock(lock_);
    return _devices;
}

void KolvexAppDelegate::replayKnownDevices() {
    for (const auto& device : devices()) {
        postAddedDevice(device);
        const Value id = Value::dict({{"deviceId", device->uuid()}});
        _wkbridge->callHandler("playlistsLoaded", id);
        _wkbridge->callHandler("tracksLoaded", id);
    }
}

void KolvexAppDelegate::OnWebviewControllerCreated(
    const std::shared_ptr<WVWindowController>& controller) {
    if (!controller) return;
    if (controller != _windowController && services_.makeDevicePlugin &&
        !_devicePlugins.contains(controller->uniqueId())) {
        if (auto plugin = services_.makeDevicePlugin(controller)) {
            _devicePlugins[controller->uniqueId()] = plugin;
            controller->addPlugin(plugin);
        }
    }
    for (const auto& device : devices()) postDeviceNotification("added", jsonOfDevice(*device));
}

void KolvexAppDelegate::OnWebviewControllerDestroyed(const WVWindowController* controller) {
    if (controller) _devicePlugins.erase(controller->uniqueId());
}

void KolvexAppDelegate::OnMenuItemClicked(const Value& userInfo) {
    ConsoleLog(foundation::json::write(userInfo));
    const Value& item = userInfo["MenuItem"];
    if (item.isNil() || !_wkbridge) return;
    _wkbridge->callHandler("menu-action", Value::dict({
                                              {"id", item["id"].stringOr()},
                                              {"title", item["title"].stringOr()},
                                              {"tag", item["tag"].toInt64().value_or(0)},
                                          }));
}

void KolvexAppDelegate::pushMediaLoading(AppDevice& device, const char* step,
                                         const Value& track) {
    if (!_wkbridge) return;
    Value data = Value::dict({{"deviceId", device.uuid()}, {"step", step}});
    if (!track.isNil()) data.set("track", track);
    _wkbridge->callHandler("deviceMediaLoading", data);
}

void KolvexAppDelegate::beforeLoadingTracksOf(AppDevice& device) {
    pushMediaLoading(device, "loadingLibrary");
}

void KolvexAppDelegate::playlistsLoadedOf(AppDevice& device) {
    pushMediaLoading(device, "playlistsLoaded");
}

void KolvexAppDelegate::finishLoadingTracksOf(AppDevice& device) {
    pushMediaLoading(device, "tracksLoaded");
}

void KolvexAppDelegate::updateTrackInfoOf(const Value& track, AppDevice& device) {
    Value copy = track.isDictionary() ? track : Value(foundation::Dictionary{});
    // The pid as a signed 64-bit number, as the page has always read it: an unsigned one
    // keeps its bits (a persistent id with the top bit set is negative), so no two pids
    // share a text. Ringtones hold it as decimal text.
    const Value& pid = track["pid"];
    const std::int64_t number =
        pid.isString()  ? std::strtoll(pid.string()->c_str(), nullptr, 10)
        : pid.uint64() ? static_cast<std::int64_t>(*pid.uint64())
                       : pid.toInt64().value_or(0);
    copy.set("pidstr", fmt::format("{}", number));
    pushMediaLoading(device, "updateTrack", copy);
}

void KolvexAppDelegate::finishMatchingiTunesOf(AppDevice& device) {
    pushMediaLoading(device, "matching");
}
