#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "files/FileSystemNode.h"
#include "files/MusicImportServices.h"
#include "files/WVMobileDeviceFileSystemPluginDelegate.h"
#include "foundation/QuitGate.h"
#include "shell/plugins/WVPluginBase.h"

// The "mdfs" page plugin: the page's road to a connected device's files, pairing and
// lockdown values. Each message is re-posted as "kJSMobileDeviceFileSystemNotification" and
// run by process() as a job of the shared background queue, several at once; the plugin
// keeps no state between requests and takes no lock.
//
// A request is {"cmd", "udid", "path", ...}; the node keys "type" ("file", "disk", "app";
// default "file"), "appid", "isdir" (default true) and "refresh" (default false) shape the
// request's FileSystemNode. Every request passes, in this order: a command name holding
// "device-"; a delegate; the device ("device-is-paired" answers before this one); the
// value commands; a non-empty path and udid; a path confined to its service (no "..", no
// empty component, no NUL). Replies are {"result": true[, "data"]} or {"result": false[,
// "error"]}; a name without "device-" is answered with an "error" dictionary {"message",
// "unknown": true}. An exception ends in "CRITICAL Exception: ...".
class WVMobileDeviceFilesystemPlugin : public WVPluginBase {
public:
    static constexpr const char* kJSMobileDeviceFileSystemNotification =
        "kJSMobileDeviceFileSystemNotification";
    // The most one request reads from a device file into memory.
    static constexpr std::uint64_t kMaxReadBytes = 256ull << 20;

    using DelegatePtr = std::weak_ptr<WVMobileDeviceFileSystemPluginDelegate>;

    // What a command gets: the message data, its checked path and device, and the request's
    // node (null for "app" without "appid" and unknown types).
    struct Request {
        const foundation::Value& data;
        std::string path;
        std::string udid;
        std::shared_ptr<iMobileDevice> device;
        FileSystemNode::Ptr node;
        // The page handler named by the message's "cb" (copy progress), and the reply block
        // for commands that answer later.
        std::string progressHandler;
        WVBridgeResponseCallback reply;
    };
    // A command's reply; nil when the command answers through Request::reply itself.
    using Command = std::function<foundation::Value(WVMobileDeviceFilesystemPlugin&, Request&)>;

    // The main window's instance, made once; later calls do nothing.
    static void setupWithBridgeWebviewDelegate(const std::shared_ptr<ScriptBridge>& bridge,
                                               std::weak_ptr<void> webview, DelegatePtr delegate);
    static std::shared_ptr<WVMobileDeviceFilesystemPlugin> sharedInstance();
    // A further window's instance: registers "mdfs" on its bridge.
    static std::shared_ptr<WVMobileDeviceFilesystemPlugin> create(
        const std::shared_ptr<ScriptBridge>& bridge, std::weak_ptr<void> webview,
        DelegatePtr delegate);

    WVMobileDeviceFilesystemPlugin(const std::shared_ptr<ScriptBridge>& bridge,
                                   std::weak_ptr<void> webview, DelegatePtr delegate);

    std::shared_ptr<WVMobileDeviceFileSystemPluginDelegate> delegate() const;
    void setDelegate(DelegatePtr delegate);

    // How a download pauses for its "delay" after each progress report, on the copy's
    // thread; sleeps by default. Tests put a clock of their own here.
    using Pause = std::function<void(double seconds)>;
    void setCopyPause(Pause pause);
    Pause copyPause() const;
    // The quit the copies answer to: the application's, unless tests give one of their own.
    void setQuitGate(foundation::QuitGate gate);
    foundation::QuitGate quitGate() const;

    // Runs one request to its end; the reply is called once (possibly later, for copies).
    void process(const foundation::Value& data, const WVBridgeResponseCallback& reply);

    // A path in the temporary folder named "<prefix>_<guid>" (or the guid); nothing is made.
    static std::string getTempFilepathWithPrefix(const std::optional<std::string>& prefix);
    // A copy the page can take as JSON: containers member by member (members that clean to
    // nil left out), text, numbers and booleans kept, dates as seconds since 1970, bytes
    // and anything else nil.
    static foundation::Value removeInvalidType(const foundation::Value& object);
    // Whether a device path from the page stays inside its service: no "..", no empty
    // component (a leading or trailing "/" is fine), no NUL.
    static bool isConfinedDevicePath(const std::string& path);
    // Whether the command's "path" names a place on the device (else one on the computer).
    static bool pathIsOnDevice(const std::string& cmd);
    // A computer path as the computer's file commands take it: used as given, so long as it
    // is not empty and holds no NUL that would cut it short.
    static bool isUsableComputerPath(const std::string& path);

    // The commands that run after the path check, by exact name. Further commands are
    // added here at start-up, before any request runs.
    static std::map<std::string, Command>& fileCommands();

    // Adds an imported track record to its playlist in the music library (the Music
    // import commands tell how it is chosen).
    static bool addTrackToITunesMediaLoaderToPlaylist(const MusicImportServices& services,
                                                      foundation::Value& track,
                                                      const DeviceTrackLibrary& loader,
                                                      const std::optional<std::string>& playlist);

protected:
    void OnJSNotification(const foundation::Notification& notification) override;

private:
    foundation::Value run(Request& request, const std::string& cmd);
    static FileSystemNode::Ptr requestNode(const foundation::Value& data,
                                           const std::shared_ptr<iMobileDevice>& device,
                                           const std::string& path);

    // Value and pairing commands (before the path check).
    static foundation::Value isPaired(const std::shared_ptr<iMobileDevice>& device);
    static foundation::Value deviceInfo(iMobileDevice& device, const foundation::Value& data);
    static foundation::Value pair(iMobileDevice& device);

    mutable std::mutex delegateMutex_;
    DelegatePtr delegate_;
    Pause pause_;
    foundation::QuitGate quitGate_ = foundation::QuitGate::application();
};
