#include "files/WVMobileDeviceFilesystemPlugin.h"

#include <exception>
#include <chrono>
#include <mutex>
#include <thread>
#include <utility>

#include <fmt/format.h>

#include "content/ThreadPool.h"
#include "data/helpers/NSStringHelpers.h"
#include "device/DeviceManager.h"
#include "files/DeviceCopyCommands.h"
#include "files/DeviceFileCommands.h"
#include "files/MusicImportCommands.h"
#include "files/RequestArguments.h"
#include "files/RingtoneInstaller.h"
#include "foundation/PathComponents.h"
#include "foundation/Paths.h"
#include "logging/LogCall.h"
#include "shell/plugins/PageValues.h"

using foundation::Value;

namespace {

Value failure(const std::string& error) { return Value::dict({{"result", false}, {"error", error}}); }

struct SharedInstance {
    std::mutex mutex;
    std::shared_ptr<WVMobileDeviceFilesystemPlugin> plugin;
};

SharedInstance& sharedSlot() {
    static SharedInstance* const slot = new SharedInstance();
    return *slot;
}

}  // namespace

WVMobileDeviceFilesystemPlugin::WVMobileDeviceFilesystemPlugin(
    const std::shared_ptr<ScriptBridge>& bridge, std::weak_ptr<void> webview, DelegatePtr delegate)
    : WVPluginBase(bridge, std::move(webview), {}),
      delegate_(std::move(delegate)),
      pause_([](double seconds) {
          std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
      }) {}

std::shared_ptr<WVMobileDeviceFilesystemPlugin> WVMobileDeviceFilesystemPlugin::create(
    const std::shared_ptr<ScriptBridge>& bridge, std::weak_ptr<void> webview, DelegatePtr delegate) {
    auto plugin = std::make_shared<WVMobileDeviceFilesystemPlugin>(bridge, std::move(webview),
                                                                   std::move(delegate));
    plugin->listen("mdfs", kJSMobileDeviceFileSystemNotification);
    return plugin;
}

void WVMobileDeviceFilesystemPlugin::setupWithBridgeWebviewDelegate(
    const std::shared_ptr<ScriptBridge>& bridge, std::weak_ptr<void> webview, DelegatePtr delegate) {
    auto& slot = sharedSlot();
    std::lock_guard lock(slot.mutex);
    if (!slot.plugin) slot.plugin = create(bridge, std::move(webview), std::move(delegate));
}

std::shared_ptr<WVMobileDeviceFilesystemPlugin> WVMobileDeviceFilesystemPlugin::sharedInstance() {
    auto& slot = sharedSlot();
    std::lock_guard lock(slot.mutex);
    return slot.plugin;
}

std::shared_ptr<WVMobileDeviceFileSystemPluginDelegate> WVMobileDeviceFilesystemPlugin::delegate()
    const {
    std::lock_guard lock(delegateMutex_);
    return delegate_.lock();
}

void WVMobileDeviceFilesystemPlugin::setDelegate(DelegatePtr delegate) {
    std::lock_guard lock(delegateMutex_);
    delegate_ = std::move(delegate);
}

void WVMobileDeviceFilesystemPlugin::setCopyPause(Pause pause) {
    std::lock_guard lock(delegateMutex_);
    pause_ = std::move(pause);
}

WVMobileDeviceFilesystemPlugin::Pause WVMobileDeviceFilesystemPlugin::copyPause() const {
    std::lock_guard lock(delegateMutex_);
    return pause_;
}

void WVMobileDeviceFilesystemPlugin::setQuitGate(foundation::QuitGate gate) {
    std::lock_guard lock(delegateMutex_);
    quitGate_ = std::move(gate);
}

foundation::QuitGate WVMobileDeviceFilesystemPlugin::quitGate() const {
    std::lock_guard lock(delegateMutex_);
    return quitGate_;
}

void WVMobileDeviceFilesystemPlugin::OnJSNotification(const foundation::Notification& notification) {
    auto self = std::static_pointer_cast<WVMobileDeviceFilesystemPlugin>(shared_from_this());
    ThreadPool::addAsyncJobWithBlock(
        [self, data = messageData(notification), reply = replyBlock(notification)] {
            self->process(data, reply);
        });
}

std::map<std::string, WVMobileDeviceFilesystemPlugin::Command>&
WVMobileDeviceFilesystemPlugin::fileCommands() {
    static auto* const commands = [] {
        auto* table = new std::map<std::string, Command>();
        DeviceFileCommands::addTo(*table);
        DeviceCopyCommands::addTo(*table);
        RingtoneInstaller::addTo(*table);
        return table;
    }();
    return *commands;
}

void WVMobileDeviceFilesystemPlugin::process(const Value& data,
                                             const WVBridgeResponseCallback& reply) {
    const std::string cmd = data["cmd"].stringOr();
    Value answer;
    if (cmd.find("device-") == std::string::npos) {
        answer = Value::dict(
            {{"result", false},
             {"error", Value::dict({{"message", fmt::format("unhandled command: {}",
                                                            PageValues::description(data["cmd"]))},
                                    {"unknown", true}})}});
    } else {
        Request request{data, data["path"].stringOr(), data["udid"].stringOr(), nullptr, nullptr,
                        {}, reply};
        try {
            answer = run(request, cmd);
        } catch (const std::exception& exception) {
            LogError("{}", exception.what());
            answer = failure(fmt::format("CRITICAL Exception: {}", exception.what()));
        }
    }
    if (!answer.isNil() && reply) reply(answer);
}

Value WVMobileDeviceFilesystemPlugin::run(Request& request, const std::string& cmd) {
    const auto finder = delegate();
    if (!finder) return failure("Delegate not settled.");
    request.device = finder->findMobileDeviceById(request.udid);
    if (cmd == "device-is-paired") return isPaired(request.device);
    if (!request.device)
        return failure(fmt::format("Couldn't find such device: {}",
                                   PageValues::description(request.data["udid"])));
    if (cmd == "device-info") return deviceInfo(*request.device, request.data);
    if (cmd == "device-pair") return pair(*request.device);
    if (cmd == "device-unpair") return Value::dict({{"result", request.device->unpair()}});
    if (request.path.empty() || request.udid.empty()) return failure("Missing path or deviceId");
    if (pathIsOnDevice(cmd) ? !isConfinedDevicePath(request.path)
                            : !isUsableComputerPath(request.path))
        return failure(fmt::format("Invalid {} path: {}", pathIsOnDevice(cmd) ? "device" : "computer",
                                   request.path));

    request.node = requestNode(request.data, request.device, request.path);
    request.progressHandler = request.data["cb"].stringOr();
    const auto& commands = fileCommands();
    const auto found = commands.find(cmd);
    if (found == commands.end()) return failure(fmt::format("unhandled device command: {}", cmd));
    return found->second(*this, request);
}

FileSystemNode::Ptr WVMobileDeviceFilesystemPlugin::requestNode(
    const Value& data, const std::shared_ptr<iMobileDevice>& device, const std::string& path) {
    const bool refresh = RequestArguments::flag(data["refresh"]).value_or(false);
    const std::string type = data["type"].isNil() ? "file" : data["type"].stringOr();
    const bool isDirectory = RequestArguments::flag(data["isdir"]).value_or(true);
    FileSystemNode::Ptr node;
    if (type == "file") {
        node = FileSystemNode::fileSystemRootNodeWithMobileDevicePath(device, path);
    } else if (type == "disk") {
        node = FileSystemNode::diskRootNodeWithMobileDevicePath(device, path);
    } else if (type == "app") {
        const std::string appId = data["appid"].stringOr();
        if (!appId.empty())
            node = FileSystemNode::appNodeWithIdOnMobileDevicePathIsDirectory(appId, device, path,
                                                                             isDirectory);
    }
    if (refresh) {
        if (node) node->refreshChildren();
        device->resetService();
        if (node) node->connectToDevice();
    }
    return node;
}

Value WVMobileDeviceFilesystemPlugin::isPaired(const std::shared_ptr<iMobileDevice>& device) {
    if (!device) return Value::dict({{"result", true}, {"data", Value::dict({{"removed", true}})}});
    return Value::dict({{"result", true}, {"data", Value::dict({{"paired", device->paired()}})}});
}

Value WVMobileDeviceFilesystemPlugin::deviceInfo(iMobileDevice& device, const Value& data) {
    const Value value =
        removeInvalidType(device.deviceValueForKeyInDomain(data["key"].stringOr(), data["domain"].stringOr()));
    if (value.isNil()) return Value::dict({{"result", false}});
    return Value::dict({{"result", true}, {"data", value}});
}

Value WVMobileDeviceFilesystemPlugin::pair(iMobileDevice& device) {
    const bool paired = device.paired() || device.pair();
    // A phone that arrived before it trusted this computer is read again now.
    if (paired) {
        if (auto detector = DeviceManager::defaultDeviceManager().iPhoneListener())
            detector->retrySetUp(&device);
    } else {
        const std::int32_t code = device.lastErrorCode();
        LogWarn("Pairing with {} failed: {}", device.uuid(), code != 0 ? device.statusText(code) : "no answer");
    }
    return Value::dict({{"result", paired}});
}

bool WVMobileDeviceFilesystemPlugin::addTrackToITunesMediaLoaderToPlaylist(
    const MusicImportServices& services, Value& track, const DeviceTrackLibrary& loader,
    const std::optional<std::string>& playlist) {
    return MusicImportCommands::addTrackToITunesMediaLoaderToPlaylist(services, track, loader, playlist);
}

std::string WVMobileDeviceFilesystemPlugin::getTempFilepathWithPrefix(
    const std::optional<std::string>& prefix) {
    const std::string name = prefix ? fmt::format("{}_{}", *prefix, NSString::guid()) : NSString::guid();
    return foundation::appendingPathComponent(foundation::Paths::tempDir(), name);
}

Value WVMobileDeviceFilesystemPlugin::removeInvalidType(const Value& object) {
    return removeInvalidTypeOfObject(object);
}

bool WVMobileDeviceFilesystemPlugin::pathIsOnDevice(const std::string& cmd) {
    // An upload's "path" is the computer's source file; the ringtone and music commands
    // never read theirs.
    return cmd != "device-upload" && cmd != "device-add-ringtone" && cmd != "device-additunes" &&
           cmd != "device-update-track-itunes-meta";
}

bool WVMobileDeviceFilesystemPlugin::isUsableComputerPath(const std::string& path) {
    return !path.empty() && path.find('\0') == std::string::npos;
}

bool WVMobileDeviceFilesystemPlugin::isConfinedDevicePath(const std::string& path) {
    if (path.find('\0') != std::string::npos) return false;
    std::string_view rest(path);
    if (rest.starts_with('/')) rest.remove_prefix(1);
    if (rest.ends_with('/')) rest.remove_suffix(1);
    if (rest.empty()) return true;
    while (true) {
        const std::size_t slash = rest.find('/');
        const std::string_view part = rest.substr(0, slash);
        if (part.empty() || part == "..") return false;
        if (slash == std::string_view::npos) return true;
        rest.remove_prefix(slash + 1);
    }
}
