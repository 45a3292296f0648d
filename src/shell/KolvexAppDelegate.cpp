#include "shell/KolvexAppDelegate.h"

#include <algorithm>
#include <exception>

#include <fmt/format.h>

#include "content/PageOrigins.h"
#include "content/ResourcePack.h"
#include "content/StaticFileResponse.h"
#include "content/ThreadPool.h"
#include "foundation/Bundle.h"
#include "foundation/Json.h"
#include "foundation/MainQueue.h"
#include "foundation/UserDefaults.h"
#include "logging/LgFileLogger.h"
#include "logging/LogCall.h"
#include "platform/gtk/Application.h"
#include "platform/webkit/WebView.h"
#include "logging/Console.h"
#include "shell/AlertController.h"
#include "shell/AppMenu.h"
#include "shell/ShellNotifications.h"
#include "shell/bridge/WKWebViewScriptBridge.h"
#include "shell/windows/WVWindowController.h"

namespace {

// Device kinds detected: disk-mode iPods, iPhones and iPod touch models, iPads.
constexpr std::uint32_t kDeviceKinds = 11;
constexpr const char* kDevelopmentServer = "http://127.0.0.1:8080";

std::string deviceIdOf(const foundation::Value& data) {
    return data.isDictionary() ? data["deviceId"].stringOr() : std::string();
}

}  // namespace

void KolvexAppDelegate::initialize() {
    auto& defaults = foundation::UserDefaults::standard();
    defaults.setBool("WebKitDeveloperExtras", false);
    defaults.synchronize();
    LgLog::sharedInstance().addLogger(LgFileLogger::create());
    SetLogLevel(3);
}

KolvexAppDelegate::KolvexAppDelegate(std::shared_ptr<gtk::Window> window, AppServices services,
                                     std::vector<std::string> arguments)
    : window_(std::move(window)),
      services_(std::move(services)),
      arguments_(std::move(arguments)) {}

KolvexAppDelegate::~KolvexAppDelegate() {
    auto& center = foundation::NotificationCenter::defaultCenter();
    if (bridgeReadyObserver_) center.removeObserver(bridgeReadyObserver_);
    for (const auto id : windowObservers_) center.removeObserver(id);
    if (_windowController) _windowController->setWvdelegate(nullptr);
}

void KolvexAppDelegate::awakeFromNib() {
    gtk::Application::preferLightAppearance();
    try {
        auto path = foundation::Bundle::mainBundle().pathForResource("resource", "dat");
        if (!path || !content::StaticFileResponse::initializeWithFileAtPath(
                         *path, content::ResourcePack::kPassword)) {
            LogError("Failed to load resurce file");
        }
    } catch (const std::exception& e) {
        LogError("Failed to load resurce file: {}", e.what());
    }
    auto& center = foundation::NotificationCenter::defaultCenter();
    bridgeReadyObserver_ = center.addObserver(
        kJSBridgeReady, this, [this](const foundation::Notification&) { OnBridgeReady(); });
    // Posted on the main thread by a live controller.
    auto controllerOf = [](const foundation::Notification& n) {
        auto* controller = static_cast<WVWindowController*>(const_cast<void*>(n.object));
        return controller ? controller->shared_from_this() : nullptr;
    };
    windowObservers_.push_back(center.addObserver(
        kWebviewWindowControllerCreated, nullptr,
        [this, controllerOf](const foundation::Notification& n) {
            OnWebviewControllerCreated(controllerOf(n));
        }));
    windowObservers_.push_back(center.addObserver(
        kWebviewWindowControllerDestroyed, nullptr, [this](const foundation::Notification& n) {
            OnWebviewControllerDestroyed(static_cast<const WVWindowController*>(n.object));
        }));
    windowObservers_.push_back(center.addObserver(
        kMenuDidSendActionNotification, nullptr, [this](const foundation::Notification& n) {
            const auto* item = n.get<foundation::Value>("MenuItem");
            OnMenuItemClicked(item ? foundation::Value::dict({{"MenuItem", *item}})
                                   : foundation::Value(foundation::Dictionary{}));
        }));
    if (window_) AppMenu::install(*window_, [this](const std::string& id) { performMenuAction(id); });
    initWebview();
}

bool KolvexAppDelegate::isDevelopmentMode() const {
    return std::find(arguments_.begin(), arguments_.end(), "--devmode") != arguments_.end();
}

void KolvexAppDelegate::initWebview() {
    if (isDevelopmentMode()) content::PageOrigins::setDevelopmentServer(kDevelopmentServer);
    _windowController = WVWindowController::initWithWindow(window_);
    _windowController->setWvdelegate(this);
    _wkbridge = _windowController->wvbridge();
    _windowController->loadURLString(isDevelopmentMode() ? kDevelopmentServer : "myapp://x/");
    if (services_.setupDevicePlugin)
        services_.setupDevicePlugin(_wkbridge, _windowController->webview());
}

void KolvexAppDelegate::OnWVBridgeReady(const foundation::Value& data) {
    ConsoleLog("bridgeReady called: " + foundation::json::write(data));
    // A number below 100 (a boolean counts as 0 or 1); read as an unsigned number, a
    // negative one is far above that.
    const auto& titleHeight = data["titleHeight"];
    if (const auto height = titleHeight.toInt64();
        height && (titleHeight.isNumber() || titleHeight.isBool()) && *height >= 0 && *height < 100 &&
        window_->isBorderless()) {
        window_->setTitleHeight(unsigned(*height));
    }
    replayKnownDevices();
    registerPageHandlers();
    if (!_initialized) {
        _initialized = true;
        foundation::NotificationCenter::defaultCenter().post(kJSBridgeReady, this);
        foundation::NotificationCenter::defaultCenter().removeObserver(bridgeReadyObserver_);
        bridgeReadyObserver_ = 0;
    }
}

void KolvexAppDelegate::registerPageHandlers() {
    // None of them answers the page; a device that is not connected is ignored.
    auto route = [this](std::function<void(const std::string&)> service) {
        return [this, service](const foundation::Value& data, const WVBridgeResponseCallback&) {
            const std::string deviceId = deviceIdOf(data);
            if (!deviceId.empty() && service && findMobileDeviceById(deviceId)) service(deviceId);
        };
    };
    _wkbridge->registerHandler("reconnect-device", route([this](const std::string& deviceId) {
                                   auto device = findMobileDeviceById(deviceId);
                                   if (!device) return;
                                   // A device that has not answered yet is asked again too.
                                   if (services_.retryDeviceSetUp) services_.retryDeviceSetUp(device);
                                   postAddedDevice(device);
                               }));
    _wkbridge->registerHandler("load-device-library", route(services_.loadDeviceLibrary));
    _wkbridge->registerHandler("sync-library-status", route(services_.syncLibraryStatus));
}

void KolvexAppDelegate::OnBridgeReady() {
    auto bridge = _wkbridge;
    auto loadLibrary = services_.loadMusicLibrary;
    std::weak_ptr<KolvexAppDelegate*> alive = alive_;
    ThreadPool::addAsyncJobWithBlock([alive, bridge, loadLibrary] {
        bridge->callHandler("iTunesLoading");
        if (loadLibrary) loadLibrary();
        bridge->callHandler("iTunesLoaded");
        foundation::MainQueue::sync([alive] {
            if (auto self = alive.lock()) (*self)->startListening();
        });
    });
}

void KolvexAppDelegate::startListening() {
    const bool started =
        !services_.startDeviceDetection || services_.startDeviceDetection(kDeviceKinds);
    if (!started) LogInfo("Failed to start listener!");
}

std::optional<bool> KolvexAppDelegate::shouldClose() {
    if (quitAlert_) return false;  // already asking
    quitAlert_ = std::make_unique<gtk::Alert>();
    quitAlert_->setStyle(gtk::Alert::Style::Warning);
    quitAlert_->setMessageText("Do you want to quit Orvandel?");
    quitAlert_->addButton("No");
    quitAlert_->addButton("Yes");
    // Escape or closing the question is no answer: only "Yes" quits.
    quitAlert_->setClosedCode(0);
    quitAlert_->beginSheet(window_->gtkWindow(), [this](int code) {
        foundation::MainQueue::async([alive = std::weak_ptr<KolvexAppDelegate*>(alive_)] {
            if (auto self = alive.lock()) (*self)->quitAlert_.reset();
        });
        if (code == gtk::Alert::kFirstButton + 1) gtk::Application::terminate();
    });
    return false;
}

void KolvexAppDelegate::WillClose() {
    gtk::Application::terminate();
}

void KolvexAppDelegate::OnCheckAuthorize() {
    if (!services_.mayAccessMusicLibrary || services_.mayAccessMusicLibrary()) return;
    LogInfo("We need privilege to access music library");
    alertForAuthorize();
}

std::string KolvexAppDelegate::authorizeMessage(bool containsMusic) {
    const char* const name = containsMusic ? "Music" : "iTunes";
    return fmt::format(
        "Please give the access to {0} library following these steps:\n1) Open System "
        "Preferences\n2) Click \"Security & Privacy\"\n3) Select the \"Privacy\" tab \n4) Find "
        "and select \"Automation\" from the left\n5) Find and select \"Orvandel.app\" in the "
        "list\n6) Find the checkbox for \"{0}\" and checked it\n",
        name);
}

void KolvexAppDelegate::alertForAuthorize() {
    if (!foundation::MainQueue::isMainThread()) {
        foundation::MainQueue::sync([this] { alertForAuthorize(); });
        return;
    }
    const bool music = !services_.containsMusic || services_.containsMusic();
    AlertController::MsgBoxForWindow(authorizeMessage(music),
                                     window_ ? window_->gtkWindow() : nullptr);
}

void KolvexAppDelegate::performMenuAction(const std::string& itemId) {
    if (itemId == AppMenu::kCheckAuthorize) {
        OnCheckAuthorize();
    } else if (itemId == AppMenu::kAlertAuthorize) {
        OnAlertAuthorize();
    } else if (itemId == AppMenu::kQuit) {
        shouldClose();  // the quit sheet; the application ends when it is answered "Yes"
    }
}
