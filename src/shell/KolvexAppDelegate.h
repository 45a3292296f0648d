#pragma once

#include <map>
#include <memory>
#include <optional>
#include <mutex>
#include <string>
#include <vector>


#include "foundation/NotificationCenter.h"
#include "platform/gtk/Alert.h"
#include "platform/gtk/Window.h"
#include "shell/AppServices.h"
#include "shell/windows/WVWindowControllerDelegate.h"

class WVPluginBase;
class WVWindowController;
class WKWebViewScriptBridge;
class AppDevice;

// The application delegate: sets up logging and preferences, loads the resource pack,
// opens the main web window, answers its page's "bridgeReady", starts the library load and
// device detection once, and asks before the application quits. Main thread, but for the
// device and media-loading notices, which arrive on the threads that report them.
class KolvexAppDelegate : public WVWindowControllerDelegate {
public:
    // Developer extras off in the preferences, the rolling file logger, the log level.
    static void initialize();

    KolvexAppDelegate(std::shared_ptr<gtk::Window> window, AppServices services,
                      std::vector<std::string> arguments);
    ~KolvexAppDelegate() override;

    // The main window is there: pack, observers, main web window.
    void awakeFromNib();
    bool isDevelopmentMode() const;
    void initWebview();

    void applicationDidFinishLaunching() {}
    void OnWVBridgeReady(const foundation::Value& data) override;
    void OnBridgeReady();
    void startListening();
    // Shows the quit confirmation and keeps the window open.
    std::optional<bool> shouldClose() override;
    // Ends the application (nothing of ours calls it: the window asks shouldClose).
    void WillClose();

    // The music library's folder and index must be readable and writable: when they are
    // not, the user is told how to allow it.
    void OnCheckAuthorize();
    void OnAlertAuthorize() { alertForAuthorize(); }
    // Any thread; shown over the main window, the caller waits until it is answered.
    void alertForAuthorize();
    static std::string authorizeMessage(bool containsMusic);
    // Menu actions that have nothing to do here.
    void OnPreferences() {}
    void OnHelp() {}
    void OnDiagnose() {}
    void OnViewDidChangeEffectiveAppearance() {}
    bool IsDiagnose() const { return isDiagnose; }

    // The main window (the outlet the main window definition fills).
    std::shared_ptr<gtk::Window> window() const { return window_; }
    void setWindow(std::shared_ptr<gtk::Window> window) { window_ = std::move(window); }
    std::shared_ptr<WVWindowController> windowController() const { return _windowController; }

    // Devices: the 12-key summary the page gets, the list kept under the delegate's lock.
    static foundation::Value jsonOfDevice(AppDevice& device);
    void postAddedDevice(const std::shared_ptr<AppDevice>& device);
    void DeviceAdded(const std::shared_ptr<AppDevice>& device);
    void DeviceRemoved(const std::shared_ptr<AppDevice>& device);
    std::shared_ptr<AppDevice> findMobileDeviceById(const std::string& deviceId) const;
    std::vector<std::shared_ptr<AppDevice>> devices() const;

    // Further web windows get a device plugin of their own and hear of the known devices.
    void OnWebviewControllerCreated(const std::shared_ptr<WVWindowController>& controller);
    void OnWebviewControllerDestroyed(const WVWindowController* controller);
    // A menu item's action: {"id", "title", "tag"} as "menu-action" to the main page.
    void OnMenuItemClicked(const foundation::Value& userInfo);
    // Runs the action of one of the application menu's items (AppMenu.h).
    void performMenuAction(const std::string& itemId);

    // The media loader's progress, as "deviceMediaLoading" to the main page.
    void beforeLoadingTracksOf(AppDevice& device);
    void playlistsLoadedOf(AppDevice& device);
    void finishLoadingTracksOf(AppDevice& device);
    void updateTrackInfoOf(const foundation::Value& track, AppDevice& device);
    void finishMatchingiTunesOf(AppDevice& device);
    // The quit confirmation while it is shown.
    gtk::Alert* quitAlert() const { return quitAlert_.get(); }

private:
    void registerPageHandlers();
    void replayKnownDevices();
    void pushMediaLoading(AppDevice& device, const char* step,
                          const foundation::Value& track = {});

    std::shared_ptr<gtk::Window> window_;
    AppServices services_;
    std::vector<std::string> arguments_;
    std::shared_ptr<WVWindowController> _windowController;
    std::shared_ptr<WKWebViewScriptBridge> _wkbridge;
    bool _initialized = false;
    bool isDiagnose = false;
    std::unique_ptr<gtk::Alert> quitAlert_;
    foundation::NotificationCenter::ObserverId bridgeReadyObserver_ = 0;
    std::vector<foundation::NotificationCenter::ObserverId> windowObservers_;

    mutable std::recursive_mutex lock_;  // the lock on the delegate
    std::vector<std::shared_ptr<AppDevice>> _devices;
    std::map<std::string, std::shared_ptr<WVPluginBase>> _devicePlugins;  // by window
    // Jobs queued for later reach the delegate through this, and not once it is gone.
    std::shared_ptr<KolvexAppDelegate*> alive_ = std::make_shared<KolvexAppDelegate*>(this);
};
