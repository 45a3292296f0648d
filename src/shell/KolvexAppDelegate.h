#pragma once

#include <memory>
#include <string>
#include <vector>

#include "foundation/NotificationCenter.h"
#include "platform/gtk/Alert.h"
#include "platform/gtk/Window.h"
#include "shell/AppServices.h"
#include "shell/windows/WVWindowControllerDelegate.h"

class WVWindowController;
class WKWebViewScriptBridge;

// The application delegate: sets up logging and preferences, loads the resource pack,
// opens the main web window, answers its page's "bridgeReady", starts the library load and
// device detection once, and asks before the application quits. Main thread.
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

    void OnWVBridgeReady(const foundation::Value& data) override;
    void OnBridgeReady();
    void startListening();
    // Shows the quit confirmation and keeps the window open.
    std::optional<bool> shouldClose() override;

    std::shared_ptr<WVWindowController> windowController() const { return _windowController; }
    // The quit confirmation while it is shown.
    gtk::Alert* quitAlert() const { return quitAlert_.get(); }

private:
    void registerPageHandlers();

    std::shared_ptr<gtk::Window> window_;
    AppServices services_;
    std::vector<std::string> arguments_;
    std::shared_ptr<WVWindowController> _windowController;
    std::shared_ptr<WKWebViewScriptBridge> _wkbridge;
    bool _initialized = false;
    std::unique_ptr<gtk::Alert> quitAlert_;
    foundation::NotificationCenter::ObserverId bridgeReadyObserver_ = 0;
    // Jobs queued for later reach the delegate through this, and not once it is gone.
    std::shared_ptr<KolvexAppDelegate*> alive_ = std::make_shared<KolvexAppDelegate*>(this);
};
