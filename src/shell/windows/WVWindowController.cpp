#include "shell/windows/WVWindowController.h"

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <fmt/format.h>

#include "content/URLRequest.h"
#include "data/helpers/NSStringHelpers.h"
#include "foundation/Json.h"
#include "foundation/MainQueue.h"
#include "foundation/Paths.h"
#include "platform/webkit/WebView.h"
#include "logging/Console.h"
#include "shell/ShellNotifications.h"
#include "shell/bridge/WKWebViewScriptBridge.h"
#include "shell/plugins/WVPluginBase.h"
#include "shell/windows/BorderlessWindow.h"
#include "shell/windows/ModalView.h"
#include "shell/windows/WebKitSchemeTask.h"
#include "shell/windows/WebProcessRecovery.h"
#include "shell/windows/WebviewDelegate.h"

namespace {

constexpr const char* kAskScript =
    "var e=document.createEvent('Event'); e.initEvent('beforeunload', true, true); "
    "window.dispatchEvent(e);";
constexpr const char* kTellScript =
    "var e=document.createEvent('Event'); e.initEvent('unload', true, true); "
    "window.dispatchEvent(e);";
// How long a closing window waits for its page: a hung page must not keep it open, but a
// page that asks the user (a panel is showing) is waited for as long as it lives.
constexpr unsigned kClosingScriptLimitMs = 5000;

constexpr std::uint64_t kStandardStyle =
    gtk::Titled | gtk::Closable | gtk::Miniaturizable | gtk::Resizable;

}  // namespace

WebKitWebContext* WVWindowController::sharedContext() {
    static WebKitWebContext* const context = [] {
        // Browser storage and caches go with the application's own folders, not to a
        // folder of the program's name beside them.
        const std::string data = foundation::Paths::applicationSupportDir() + "/WebKit";
        const std::string cache = foundation::Paths::cachesDir() + "/WebKit";
        WebKitWebsiteDataManager* manager = webkit_website_data_manager_new(
            "base-data-directory", data.c_str(), "base-cache-directory", cache.c_str(), nullptr);
        WebKitWebContext* made = webkit_web_context_new_with_website_data_manager(manager);
        g_object_unref(manager);
        WebKitSchemeTask::installOn(made);
        return made;
    }();
    return context;
}

WVWindowController::WVWindowController(std::shared_ptr<gtk::Window> window)
    : window_(std::move(window)) {}

WVWindowController::~WVWindowController() {
    cleanup();
}

std::shared_ptr<WVWindowController>
WVWindowController::createInstanceWithWindowRectStyleMaskWebconfig(gtk::Rect rect,
                                                                   std::uint64_t styleMask,
                                                                   WebKitWebView* webconfig) {
    return initWithWindow(std::make_shared<gtk::Window>(rect, styleMask), webconfig);
}

std::shared_ptr<WVWindowController> WVWindowController::createInstanceWithWindowRectStyleMask(
    gtk::Rect rect, std::uint64_t styleMask) {
    return createInstanceWithWindowRectStyleMaskWebconfig(rect, styleMask, nullptr);
}

std::shared_ptr<WVWindowController> WVWindowController::createInstanceWithWindowRect(
    gtk::Rect rect) {
    return createInstanceWithWindowRectStyleMask(rect, kStandardStyle);
}

std::shared_ptr<WVWindowController> WVWindowController::createInstance() {
    return createInstanceWithWindowRect({0, 0, 500, 460});
}

std::shared_ptr<WVWindowController> WVWindowController::initWithWindow(
    std::shared_ptr<gtk::Window> window, WebKitWebView* webconfig) {
    std::shared_ptr<WVWindowController> controller(new WVWindowController(std::move(window)));
    controller->becomeWindowDelegate();
    controller->initWebviewWithConfiguration(webconfig);
    return controller;
}

void WVWindowController::becomeWindowDelegate() {
    std::weak_ptr<WVWindowController> weak = weak_from_this();
    window_->shouldClose = [weak] {
        auto self = weak.lock();
        return !self || self->windowShouldClose();
    };
    window_->willClose = [weak] {
        if (auto self = weak.lock()) self->windowWillClose();
    };
}

void WVWindowController::initWebviewWithConfiguration(WebKitWebView* webconfig) {
    if (_initialized) return;
    _uniqueId = NSString::guid();
    _initialized = true;
    _confirmUnload = false;
    _webviewDelegate = std::make_shared<WebviewDelegate>(window_);

    webkit::WebView::Options options;
    options.context = sharedContext();
    options.relatedTo = webconfig;
    options.developerExtras = true;  // every view of ours can be inspected
    _webview = std::make_shared<webkit::WebView>(options);
    window_->setContent(_webview->widget());
    _webviewDelegate->attachTo(*_webview);
    if (window_->isBorderless()) borderless_ = BorderlessWindow::attach(window_, _webview);

    std::weak_ptr<WVWindowController> weak = weak_from_this();
    _webview->onTitleChanged = [weak](const std::string& title) {
        if (auto self = weak.lock()) self->window_->setTitle(title);
    };
    recovery_ = std::make_unique<WebProcessRecovery>(window_, _webview);
    _webview->onWebProcessTerminated = [weak](webkit::WebView::TerminationReason reason) {
        auto self = weak.lock();
        if (!self) return;
        // A closing script waited for now never answers.
        if (self->endClosingWait_) self->endClosingWait_();
        if (self->recovery_) self->recovery_->webProcessEnded(reason);
    };
    _webview->onCreateWindow = [weak](const std::string& uri) -> WebKitWebView* {
        auto self = weak.lock();
        if (!self || !self->_webviewDelegate) return nullptr;
        return self->_webviewDelegate->createWebView(uri, self->_webview->view());
    };
    _webview->onCloseRequested = [weak] {
        if (auto self = weak.lock()) self->window_->performClose();
    };

    _wkbridge = WKWebViewScriptBridge::bridgeForWebView(_webview);
    _wkbridge->setWebViewDelegate(_webviewDelegate);
    registerBridgeHandlers();

    for (const auto& pluginClass : WVPluginBase::allClasses()) {
        if (auto plugin = pluginClass.make(_wkbridge, std::weak_ptr<void>(_webview),
                                           std::weak_ptr<void>(window_))) {
            _plugins.push_back(std::move(plugin));
        }
    }
    observeNotifications();
}

void WVWindowController::registerBridgeHandlers() {
    // The handler keeps the controller alive while its page lives: a window the page
    // opened has no other owner. The clean-up lets go of the bridge, and so of it.
    auto self = shared_from_this();
    _wkbridge->registerHandler(
        "bridgeReady", [self](const foundation::Value& data, const WVBridgeResponseCallback&) {
            ConsoleLog("bridgeReady called: " + foundation::json::write(data));
            if (self->_wvdelegate) self->_wvdelegate->OnWVBridgeReady(data);
            foundation::NotificationCenter::defaultCenter().post(kWebviewWindowControllerCreated,
                                                                 self.get());
        });
    // Until the event plugin registers itself, malformed requests still get an answer.
    _wkbridge->registerHandler("wvevent", [](const foundation::Value& data,
                                             const WVBridgeResponseCallback& reply) {
        if (!data.isDictionary() && reply) {
            reply(foundation::Value::dict({{"result", false}, {"error", "invalid request data"}}));
        }
    });
}

void WVWindowController::observeNotifications() {
    auto& center = foundation::NotificationCenter::defaultCenter();
    std::weak_ptr<WVWindowController> weak = weak_from_this();
    // Notices from other threads hop to the main thread without waiting: a relay that
    // waited there could never end while the window's clean-up waits for it to, and the
    // bridge is only touched on the main thread.
    auto relay = [weak](void (WVWindowController::*handler)(const foundation::Notification&)) {
        return [weak, handler](const foundation::Notification& n) {
            if (!foundation::MainQueue::isMainThread()) {
                foundation::MainQueue::async([weak, handler, n] {
                    if (auto self = weak.lock()) (self.get()->*handler)(n);
                });
                return;
            }
            if (auto self = weak.lock()) (self.get()->*handler)(n);
        };
    };
    observers_.push_back(center.addObserver(kIDeviceNotification, nullptr,
                                            relay(&WVWindowController::OnIDeviceNotification)));
    observers_.push_back(center.addObserver(kWebviewWindowClose, nullptr,
                                            relay(&WVWindowController::OnWebviewWindowClose)));
    observers_.push_back(center.addObserver(kModalWebviewWindow, nullptr,
                                            relay(&WVWindowController::OnModalWebviewWindow)));
}

void WVWindowController::loadURLString(const std::string& url) {
    // The text goes to the view as it stands: a request made of it would carry no fields.
    if (_webview) _webview->loadURI(url);
}

void WVWindowController::loadRequest(const content::URLRequest& request) {
    if (_webview) _webview->loadRequest(request.url.toString(), request.allHTTPHeaderFields.fields());
}

double WVWindowController::titlebarHeight() const {
    if (!window_) return 0;
    GdkWindow* gdk = gtk_widget_get_window(GTK_WIDGET(window_->gtkWindow()));
    if (!gdk) return 0;
    GdkRectangle frame;
    gdk_window_get_frame_extents(gdk, &frame);
    return double(frame.height - gdk_window_get_height(gdk));
}

void WVWindowController::addPlugin(const std::shared_ptr<WVPluginBase>& plugin) {
    if (plugin) _plugins.push_back(plugin);
}

void WVWindowController::showWindow() {
    window_->show();
}

std::int64_t WVWindowController::showModalInWindow(const std::shared_ptr<gtk::Window>& opener) {
    _showModal = true;
    _sheetHostWindow = opener;
    foundation::NotificationCenter::defaultCenter().post(kModalWebviewWindow, this,
                                                         {{"status", foundation::Value("open")}});
    gtk_window_set_transient_for(window_->gtkWindow(), opener->gtkWindow());
    gtk_window_set_modal(window_->gtkWindow(), TRUE);
    window_->show();
    enterModal(*opener);
    return 0;
}

void WVWindowController::showSheetForWindowModal(const std::shared_ptr<gtk::Window>& opener,
                                                 bool modal) {
    _showSheet = true;
    _sheetHostWindow = opener;
    // GTK has no sheets: a window attached to its opener and centred on it stands in.
    gtk_window_set_transient_for(window_->gtkWindow(), opener->gtkWindow());
    gtk_window_set_position(window_->gtkWindow(), GTK_WIN_POS_CENTER_ON_PARENT);
    if (modal) {
        _showModal = true;
        foundation::NotificationCenter::defaultCenter().post(
            kModalWebviewWindow, this, {{"status", foundation::Value("open")}});
        gtk_window_set_modal(window_->gtkWindow(), TRUE);
        ConsoleLog("runModalSession");
    }
    window_->show();
}

void WVWindowController::enterModal(gtk::Window& opener) {
    opener.addCover(ModalView::create());
    opener.setStyleMask(opener.styleMask() & ~std::uint64_t(gtk::Closable));
}

void WVWindowController::leaveModal(gtk::Window& opener) {
    opener.setStyleMask(opener.styleMask() | gtk::Closable);
    opener.removeCover();
}

bool WVWindowController::runClosingScript(const char* script, bool whilePanelShows) {
    if (!_webview || pageIsGone()) return true;
    struct Wait {
        GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
        std::optional<webkit::ScriptResult> result;
        bool timerDone = false;
        // Whether a page that has not answered yet is still worth waiting for.
        std::function<bool()> stillAsking;
    };
    auto wait = std::make_shared<Wait>();
    std::weak_ptr<WebviewDelegate> panels = _webviewDelegate;
    wait->stillAsking = [whilePanelShows, panels] {
        auto delegate = panels.lock();
        return whilePanelShows && delegate && delegate->showsPanel();
    };
    _webview->evaluateJavascript(script, [wait](webkit::ScriptResult result) {
        wait->result = std::move(result);
        if (wait->loop) g_main_loop_quit(wait->loop);
    });
    // A web process that goes away answers nothing: stop waiting for it at once.
    endClosingWait_ = [wait] {
        if (wait->loop) g_main_loop_quit(wait->loop);
    };
    auto* timerWait = new std::shared_ptr<Wait>(wait);
    const guint timer = g_timeout_add_full(
        G_PRIORITY_DEFAULT, kClosingScriptLimitMs,
        [](gpointer data) -> gboolean {
            auto& w = *static_cast<std::shared_ptr<Wait>*>(data);
            // A panel the page opened (a confirm() in its handler) waits for the user.
            if (w->stillAsking()) return G_SOURCE_CONTINUE;
            w->timerDone = true;
            g_main_loop_quit(w->loop);
            return G_SOURCE_REMOVE;
        },
        timerWait, [](gpointer data) { delete static_cast<std::shared_ptr<Wait>*>(data); });
    // The loop serves other windows and the bridge while this page answers.
    if (!wait->result && !pageIsGone()) g_main_loop_run(wait->loop);
    endClosingWait_ = nullptr;
    if (!wait->timerDone) g_source_remove(timer);
    g_main_loop_unref(wait->loop);
    wait->loop = nullptr;

    if (!wait->result) return true;  // no answer: a broken page must not trap the user
    ConsoleLog(fmt::format("{} - {}", wait->result->json.value_or("(null)"),
                           wait->result->typeName.empty() ? "(null)" : wait->result->typeName));
    ConsoleLog(wait->result->error.value_or("(null)"));
    if (wait->result->error) return true;  // a page that cannot be asked cannot object
    return wait->result->isTrue();
}

bool WVWindowController::windowShouldClose() {
    if (_wvdelegate) {
        if (auto answer = _wvdelegate->shouldClose()) return *answer;
    }
    auto keepAlive = shared_from_this();
    _confirmUnload = runClosingScript(kAskScript, true);
    return _confirmUnload;
}

void WVWindowController::windowWillClose() {
    auto keepAlive = shared_from_this();
    if (_wvdelegate && _wvdelegate->implementsWillClose()) {
        cleanup();
        _wvdelegate->willClose();
        return;
    }
    auto opener = _sheetHostWindow.lock();
    if (_showModal) {
        if (!_showSheet && opener) leaveModal(*opener);
        gtk_window_set_modal(window_->gtkWindow(), FALSE);
        foundation::NotificationCenter::defaultCenter().post(kModalWebviewWindow, this);
    }
    _showSheet = false;
    _showModal = false;
    runClosingScript(kTellScript, false);
    cleanup();
}

bool WVWindowController::pageIsGone() const {
    return recovery_ && recovery_->showsEnd();
}

void WVWindowController::cleanup() {
    _wkbridge.reset();
    recovery_.reset();
    if (_webview) {
        _webview->onCreateWindow = nullptr;
        _webview->onTitleChanged = nullptr;
        _webview->onScriptDialog = nullptr;
        _webview->onFileChooser = nullptr;
    }
    _webviewDelegate.reset();
    if (!_finalized) {
        _finalized = true;
        auto& center = foundation::NotificationCenter::defaultCenter();
        for (auto id : observers_) center.removeObserver(id);
        observers_.clear();
        center.post(kWebviewWindowControllerDestroyed, this);
        center.post(kWebviewWindowClose, this,
                    {{"id", foundation::Value(_uniqueId)},
                     {"name", foundation::Value(_name.value_or(""))}});
    }
    if (window_) {
        window_->shouldClose = nullptr;
        window_->willClose = nullptr;
    }
    _webview.reset();
}

void WVWindowController::OnIDeviceNotification(const foundation::Notification& notification) {
    const auto* device = notification.get<foundation::Value>("device");
    const auto* cmd = notification.get<foundation::Value>("cmd");
    if (!device || !cmd || !_wkbridge) return;
    if (cmd->stringOr() == "added") {
        _wkbridge->callHandler("iDeviceAdded", *device);
    } else if (cmd->stringOr() == "removed") {
        _wkbridge->callHandler("iDeviceRemoved", *device);
    }
}

void WVWindowController::OnWebviewWindowClose(const foundation::Notification& notification) {
    const auto* id = notification.get<foundation::Value>("id");
    const auto* name = notification.get<foundation::Value>("name");
    if (!id || !_wkbridge) return;
    _wkbridge->callHandler(
        "wvWindowClosed",
        foundation::Value::dict({{"id", *id}, {"name", name ? *name : foundation::Value("")}}));
}

void WVWindowController::OnModalWebviewWindow(const foundation::Notification& notification) {
    if (!_wkbridge) return;
    const auto* status = notification.get<foundation::Value>("status");
    _wkbridge->callHandler(status && status->stringOr() == "open" ? "enterModalWindow"
                                                                  : "leaveModalWindow");
}
