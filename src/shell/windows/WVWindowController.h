#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/NotificationCenter.h"
#include "platform/gtk/Window.h"
#include "shell/windows/WVWindowControllerDelegate.h"

typedef struct _WebKitWebView WebKitWebView;
typedef struct _WebKitWebContext WebKitWebContext;

namespace webkit {
class WebView;
}
class WKWebViewScriptBridge;
namespace content {
struct URLRequest;
}
class WVPluginBase;
class WebviewDelegate;
class BorderlessWindow;
class WebProcessRecovery;

// One web window: the window, the browser view filling it, the bridge and one instance of
// every page plugin. It carries the close protocol between the window and its page (the
// page is asked before the window closes and told when it closes) and relays device,
// window and modal notifications to its page. Main thread only; notices posted on other
// threads are relayed to the page later, from the main thread.
class WVWindowController : public std::enable_shared_from_this<WVWindowController> {
public:
    // A new window (a borderless one when the mask lacks the titled bit). `webconfig` is
    // the view the browser offers for a window the page opened, or null.
    static std::shared_ptr<WVWindowController> createInstanceWithWindowRectStyleMaskWebconfig(
        gtk::Rect rect, std::uint64_t styleMask, WebKitWebView* webconfig);
    // The shorter forms: no configuration; titled, closable, miniaturizable and resizable;
    // 500 by 460 at the origin.
    static std::shared_ptr<WVWindowController> createInstanceWithWindowRectStyleMask(
        gtk::Rect rect, std::uint64_t styleMask);
    static std::shared_ptr<WVWindowController> createInstanceWithWindowRect(gtk::Rect rect);
    static std::shared_ptr<WVWindowController> createInstance();
    // A controller over an existing window, its browser view set up.
    static std::shared_ptr<WVWindowController> initWithWindow(std::shared_ptr<gtk::Window> window,
                                                              WebKitWebView* webconfig = nullptr);

    ~WVWindowController();
    WVWindowController(const WVWindowController&) = delete;
    WVWindowController& operator=(const WVWindowController&) = delete;

    // The context every window's view uses unless the browser offers one: "myapp" is
    // served there.
    static WebKitWebContext* sharedContext();

    // Sets up the browser view once; a second call changes nothing.
    void initWebviewWithConfiguration(WebKitWebView* webconfig);
    void loadURLString(const std::string& url);
    void loadRequest(const content::URLRequest& request);

    std::shared_ptr<WKWebViewScriptBridge> wvbridge() const { return _wkbridge; }
    std::shared_ptr<webkit::WebView> webview() const { return _webview; }
    // Set up once by the controller itself; the setter serves a creator that swaps the view.
    void setWebview(std::shared_ptr<webkit::WebView> webview) { _webview = std::move(webview); }
    std::shared_ptr<gtk::Window> window() const { return window_; }
    std::shared_ptr<WebviewDelegate> webviewDelegate() const { return _webviewDelegate; }
    // The title-area dragging of a window without a title bar; null for other windows.
    std::shared_ptr<BorderlessWindow> borderlessWindow() const { return borderless_; }
    const std::string& uniqueId() const { return _uniqueId; }
    void setUniqueId(std::string uniqueId) { _uniqueId = std::move(uniqueId); }
    const std::optional<std::string>& name() const { return _name; }
    void setName(std::optional<std::string> name) { _name = std::move(name); }
    WVWindowControllerDelegate* wvdelegate() const { return _wvdelegate; }
    void setWvdelegate(WVWindowControllerDelegate* delegate) { _wvdelegate = delegate; }
    double titlebarHeight() const;
    void addPlugin(const std::shared_ptr<WVPluginBase>& plugin);
    const std::vector<std::shared_ptr<WVPluginBase>>& plugins() const { return _plugins; }

    void showWindow();
    std::int64_t showModalInWindow(const std::shared_ptr<gtk::Window>& opener);
    void showSheetForWindowModal(const std::shared_ptr<gtk::Window>& opener, bool modal);
    static void enterModal(gtk::Window& opener);
    static void leaveModal(gtk::Window& opener);

    // The window's close protocol.
    bool windowShouldClose();
    void windowWillClose();
    // Lets go of the bridge and the views and says goodbye once; safe to repeat.
    void cleanup();

private:
    explicit WVWindowController(std::shared_ptr<gtk::Window> window);
    void becomeWindowDelegate();
    void registerBridgeHandlers();
    void observeNotifications();
    // Evaluates a closing script and waits, serving the main loop, for its outcome; true
    // when the page agreed, or could not answer: its web process went away, or it gave no
    // answer within the limit (beyond it only while a panel of the page is showing, when
    // `whilePanelShows`).
    bool runClosingScript(const char* script, bool whilePanelShows);

    void OnIDeviceNotification(const foundation::Notification& notification);
    void OnWebviewWindowClose(const foundation::Notification& notification);
    void OnModalWebviewWindow(const foundation::Notification& notification);

    std::shared_ptr<gtk::Window> window_;
    std::shared_ptr<webkit::WebView> _webview;
    std::shared_ptr<WKWebViewScriptBridge> _wkbridge;
    std::shared_ptr<WebviewDelegate> _webviewDelegate;
    std::shared_ptr<BorderlessWindow> borderless_;
    std::vector<std::shared_ptr<WVPluginBase>> _plugins;
    bool _initialized = false;
    bool _showModal = false;
    bool _showSheet = false;
    bool _confirmUnload = false;
    bool _finalized = false;
    // Whether the page's web process ended for good (the window says so instead).
    bool pageIsGone() const;
    std::unique_ptr<WebProcessRecovery> recovery_;
    std::function<void()> endClosingWait_;  // set while a closing script is waited for
    std::weak_ptr<gtk::Window> _sheetHostWindow;
    WVWindowControllerDelegate* _wvdelegate = nullptr;
    std::string _uniqueId;
    std::optional<std::string> _name;
    std::vector<foundation::NotificationCenter::ObserverId> observers_;
};
