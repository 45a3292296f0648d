#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/NotificationCenter.h"
#include "foundation/Value.h"
#include "shell/bridge/ScriptBridge.h"

// The base of every page plugin: a native object serving one bridge handler name for one
// web window. It holds the window's bridge, browser view and window weakly, so a plugin
// never keeps its window alive. The browser view and the window are the shell's own types,
// held here without knowing them.
//
// The pattern every plugin follows: made through its static `create`, it registers its
// handler name with the bridge (listen); each page message is re-posted as the plugin's
// private notification with the plugin as sender and {"cb": reply block, "data": message
// data}, and served in OnJSNotification, which answers once through "cb". The handler keeps
// the plugin alive; releasing the plugin takes its name off the bridge.
class WVPluginBase : public std::enable_shared_from_this<WVPluginBase> {
public:
    using Maker = std::function<std::shared_ptr<WVPluginBase>(
        const std::shared_ptr<ScriptBridge>& bridge, std::weak_ptr<void> webview,
        std::weak_ptr<void> window)>;
    using Setup = std::function<void(const std::shared_ptr<ScriptBridge>& bridge,
                                     std::weak_ptr<void> webview, std::weak_ptr<void> window)>;
    // A plugin class as the process-wide list keeps it: `make` gives a window its own
    // instance, `setup` makes the class's one shared instance (may be empty).
    struct PluginClass {
        std::string name;
        Maker make;
        Setup setup = {};
    };

    // Throws std::invalid_argument("invalid bridge instance") without a bridge.
    WVPluginBase(const std::shared_ptr<ScriptBridge>& bridge, std::weak_ptr<void> webview,
                 std::weak_ptr<void> window);
    virtual ~WVPluginBase();
    WVPluginBase(const WVPluginBase&) = delete;
    WVPluginBase& operator=(const WVPluginBase&) = delete;

    // Empty once the bridge (view, window) is gone.
    std::shared_ptr<ScriptBridge> wkbridge() const { return _wkbridge.lock(); }
    std::shared_ptr<void> webview() const { return _webview.lock(); }
    std::shared_ptr<void> window() const { return _window.lock(); }
    void setWkbridge(const std::shared_ptr<ScriptBridge>& bridge) { _wkbridge = bridge; }
    void setWebview(std::weak_ptr<void> webview) { _webview = std::move(webview); }
    void setWindow(std::weak_ptr<void> window) { _window = std::move(window); }

    // Writes "WVPluginBase initialize" to the console; nothing of ours calls it.
    void initialize() const;

    // The process-wide ordered list of plugin classes; every web window makes one instance
    // of each, in this order. Filled at start-up, appended to only.
    static std::vector<PluginClass> allClasses();
    static void addPlugin(PluginClass pluginClass);
    // Makes the shared instance of every listed class, in list order; web windows make
    // their own instances instead, so only a caller wanting one process-wide set uses it.
    static void setupWithBridgeWebviewInWindow(const std::shared_ptr<ScriptBridge>& bridge,
                                               std::weak_ptr<void> webview,
                                               std::weak_ptr<void> window);

    // A copy that the page can be sent as JSON: dictionaries and arrays are cleaned
    // member by member (members that clean to nil are left out), text, numbers and
    // booleans pass, dates become seconds since 1970, and everything else (byte buffers,
    // null) gives nil.
    static foundation::Value removeInvalidTypeOfObject(const foundation::Value& object);

protected:
    // The class's one process-wide instance, made by the first call under the class's lock;
    // later calls keep it and ignore their arguments. It is never released.
    template <class Plugin>
    static void setupShared(const std::shared_ptr<ScriptBridge>& bridge,
                            std::weak_ptr<void> webview, std::weak_ptr<void> window) {
        static std::mutex classLock;
        static std::shared_ptr<Plugin>* const shared = new std::shared_ptr<Plugin>();
        std::lock_guard lock(classLock);
        if (!*shared) *shared = Plugin::create(bridge, std::move(webview), std::move(window));
    }

    // Registers `handlerName` on the bridge, replacing whatever was there, and serves its
    // messages through `notificationName`. Call once, right after construction.
    void listen(const std::string& handlerName, const std::string& notificationName);
    // One page message: "data" holds a foundation::Value, "cb" a WVBridgeResponseCallback.
    virtual void OnJSNotification(const foundation::Notification& notification) = 0;

    // The pieces of a notification made by listen().
    static const foundation::Value& messageData(const foundation::Notification& notification);
    static WVBridgeResponseCallback replyBlock(const foundation::Notification& notification);

private:
    std::weak_ptr<ScriptBridge> _wkbridge;
    std::weak_ptr<void> _webview;
    std::weak_ptr<void> _window;
    std::string handlerName_;
    foundation::NotificationCenter::ObserverId observer_ = 0;
};
