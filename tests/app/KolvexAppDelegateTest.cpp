#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <future>
#include <memory>
#include <thread>

#include "DialogAnswerer.h"
#include "app/AppDeviceFinder.h"
#include "WebWindowFixture.h"
#include "content/ThreadPool.h"
#include "fakedevice/FakeMobileDevice.h"
#include "foundation/ScopedEnvironment.h"
#include "foundation/ScratchFolder.h"
#include "foundation/UserDefaults.h"
#include "LogCapture.h"
#include "logging/LgFileLogger.h"
#include "logging/LgLog.h"
#include "logging/LogLevel.h"
#include "shell/bridge/WKWebViewScriptBridge.h"
#include "shell/ShellNotifications.h"
#include "foundation/OperationQueue.h"
#include "platform/gtk/Application.h"
#include "shell/KolvexAppDelegate.h"

using apptest::WebWindowTest;

namespace {

TEST(KolvexAppDelegate, DevelopmentModeOnlyForTheExactArgument) {
    const std::pair<std::vector<std::string>, bool> cases[] = {
        {{"orvandel"}, false},
        {{"orvandel", "--devmode"}, true},
        {{"--devmode", "orvandel"}, true},
        {{"orvandel", "--DEVMODE"}, false},
        {{"orvandel", "--devmode=1"}, false},
        {{"orvandel", " --devmode"}, false},
    };
    for (const auto& [arguments, expected] : cases) {
        KolvexAppDelegate delegate(nullptr, {}, arguments);
        EXPECT_EQ(delegate.isDevelopmentMode(), expected) << arguments.back();
    }
}

// The device plugins look devices up from the thread pool, which may still serve a page's
// request as the application quits: the finder lets the delegate go only once no lookup
// uses it, and later lookups find nothing.
TEST(KolvexAppDelegate, TheDeviceFinderLetsTheDelegateGoOnlyOnceNoLookupUsesIt) {
    auto finder = std::make_shared<AppDeviceFinder>();
    auto delegate = std::make_unique<KolvexAppDelegate>(nullptr, AppServices{},
                                                        std::vector<std::string>{"orvandel"});
    finder->setAppDelegate(delegate.get());
    std::atomic<bool> stop = false;
    std::atomic<int> lookups = 0;
    std::thread asking([&] {
        while (!stop) {
            EXPECT_EQ(finder->findMobileDeviceById("no such device"), nullptr);
            ++lookups;
        }
    });
    while (lookups < 1000) std::this_thread::yield();
    finder->setAppDelegate(nullptr);
    delegate.reset();
    const int before = lookups;
    while (lookups < before + 1000) std::this_thread::yield();
    stop = true;
    asking.join();
}

// Class set-up: developer extras stored off, the rolling file logger in the hub, and only
// errors and warnings logged.
TEST(KolvexAppDelegate, ClassSetUpTurnsDeveloperExtrasOffAndLogsErrorsAndWarnings) {
    auto& defaults = foundation::UserDefaults::standard();
    defaults.setBool("WebKitDeveloperExtras", true);
    const std::uint64_t savedLevel = lgLogLevel.load();
    SetLogLevel(31);
    KolvexAppDelegate::initialize();
    EXPECT_EQ(defaults.objectForKey("WebKitDeveloperExtras"), foundation::Value(false));
    EXPECT_EQ(lgLogLevel.load(), 3u);
    const auto loggers = LgLog::sharedInstance().allLoggers();
    EXPECT_EQ(std::count_if(loggers.begin(), loggers.end(),
                            [](const auto& logger) {
                                return std::dynamic_pointer_cast<LgFileLogger>(logger) != nullptr;
                            }),
              1);
    LgLog::sharedInstance().removeAllLoggers();
    LgLog::sharedInstance().flushLog();
    lgLogLevel.store(savedLevel);
}

// Without a pack in the bundle (or with one that does not read) the error is logged and the
// application starts all the same, on whatever pack the reader holds.
TEST_F(WebWindowTest, APackThatFailsToLoadIsLoggedAndStartUpGoesOn) {
    foundationtest::ScratchFolder bundle;
    foundationtest::ScopedEnvironment environment;
    environment.set("ORVANDEL_BUNDLE_DIR", bundle.path());
    for (const char* contents : {"", "not a pack"}) {
        SCOPED_TRACE(contents);
        if (*contents) std::ofstream(bundle / "resource.dat") << contents;
        auto window = std::make_shared<gtk::Window>(gtk::Rect{0, 0, 600, 400},
                                                    gtk::Titled | gtk::Closable);
        std::atomic<bool> detecting = false;
        AppServices services;
        services.startDeviceDetection = [&](std::uint32_t) { return detecting = true; };
        apptest::LogCapture log;
        KolvexAppDelegate delegate(window, services, {"orvandel"});
        delegate.awakeFromNib();
        EXPECT_TRUE(log.hasLine("[ERROR] Failed to load resurce file"));
        window->show();
        EXPECT_TRUE(testsupport::runMainLoopUntil([&] { return detecting.load(); }));
        EXPECT_EQ(delegate.windowController()->webview()->uri(), "myapp://x/");
        testsupport::runMainLoopUntil([] { return ThreadPool::async().operationCount() == 0; });
        window->close();
    }
}

// The quit question, shown, ended by a person as the key or the window's close button does.
void endQuitQuestion(KolvexAppDelegate& delegate, const std::function<void(GtkWidget*)>& end) {
    ASSERT_TRUE(testsupport::runMainLoopUntil([&] {
        return delegate.quitAlert() && delegate.quitAlert()->dialog() &&
               gtk_widget_get_visible(delegate.quitAlert()->dialog());
    }));
    end(delegate.quitAlert()->dialog());
    EXPECT_TRUE(testsupport::runMainLoopUntil([&] { return delegate.quitAlert() == nullptr; }));
}

// Lets a job that waits for it go on, at the latest when the test ends.
class Release {
public:
    std::shared_future<void> awaited() const { return awaited_; }
    void go() {
        if (!done_.exchange(true)) promise_.set_value();
    }
    ~Release() { go(); }

private:
    std::promise<void> promise_;
    std::shared_future<void> awaited_ = promise_.get_future().share();
    std::atomic<bool> done_ = false;
};

TEST_F(WebWindowTest, StartUpRunsEveryStepAndOnlyYesQuits) {
    auto window = std::make_shared<gtk::Window>(gtk::Rect{0, 0, 600, 400},
                                                gtk::Titled | gtk::Closable | gtk::Resizable);
    std::atomic<int> libraryLoads = 0;
    std::atomic<std::uint32_t> detectedKinds = 0;
    Release libraryLoaded;
    AppServices services;
    services.loadMusicLibrary = [&, loaded = libraryLoaded.awaited()] {
        ++libraryLoads;
        loaded.wait();
        return foundation::Value();
    };
    services.startDeviceDetection = [&](std::uint32_t kinds) {
        detectedKinds = kinds;
        return true;
    };
    std::shared_ptr<ScriptBridge> pluginBridge;
    std::shared_ptr<void> pluginView;
    services.setupDevicePlugin = [&](const std::shared_ptr<ScriptBridge>& bridge,
                                     const std::shared_ptr<void>& view) {
        pluginBridge = bridge;
        pluginView = view;
    };
    KolvexAppDelegate delegate(window, services, {"orvandel"});
    // Loads the bundle's own pack and start page.
    delegate.awakeFromNib();
    auto view = delegate.windowController()->webview();
    apptest::recordPushes(*view, {"iTunesLoading", "iTunesLoaded"});
    window->show();
    // The main window's device plugin works over its bridge and its browser view.
    EXPECT_EQ(pluginBridge, delegate.windowController()->wvbridge());
    EXPECT_EQ(pluginView.get(), static_cast<void*>(view.get()));

    // The page hears that the library loads before it does; detection waits for the load.
    ASSERT_TRUE(testsupport::runMainLoopUntil([&] { return libraryLoads == 1; }));
    waitForValue(*view, "window.heardPushes.join('|')", "\"iTunesLoading\"");
    EXPECT_EQ(detectedKinds, 0u);
    libraryLoaded.go();
    ASSERT_TRUE(testsupport::runMainLoopUntil([&] { return detectedKinds == 11; }));
    waitForValue(*view, "window.heardPushes.join('|')", "\"iTunesLoading|iTunesLoaded\"");
    EXPECT_EQ(libraryLoads, 1);

    // A reload asks again; the library and detection do not start a second time.
    eval(*view, "location.reload(); 0");
    waitForValue(*view, "document.readyState + typeof WebViewScriptBridge", "\"completeobject\"");
    // Page requests answer through the main loop: it must run while the pool drains.
    EXPECT_TRUE(testsupport::runMainLoopUntil([] { return ThreadPool::async().operationCount() == 0; }));
    EXPECT_EQ(libraryLoads, 1);

    {
        apptest::DialogAnswerer no(gtk::Alert::kFirstButton);
        window->performClose();
        EXPECT_TRUE(testsupport::runMainLoopUntil([&] { return no.answered(); }));
        EXPECT_NE(no.texts().find("Do you want to quit Orvandel?"), std::string::npos);
    }
    testsupport::runMainLoopUntil([&] { return delegate.quitAlert() == nullptr; });
    EXPECT_FALSE(window->isClosed());
    EXPECT_FALSE(gtk::Application::isTerminating());

    // Escape, and closing the question's own window, answer nothing.
    window->performClose();
    endQuitQuestion(delegate, [](GtkWidget* dialog) {
        EXPECT_TRUE(gtk_bindings_activate(G_OBJECT(dialog), GDK_KEY_Escape, GdkModifierType(0)));
    });
    window->performClose();
    endQuitQuestion(delegate, [](GtkWidget* dialog) { gtk_window_close(GTK_WINDOW(dialog)); });
    testsupport::drainMainLoop();
    EXPECT_FALSE(window->isClosed());
    EXPECT_FALSE(gtk::Application::isTerminating());

    apptest::DialogAnswerer yes(gtk::Alert::kFirstButton + 1);
    window->performClose();
    EXPECT_TRUE(testsupport::runMainLoopUntil([&] { return gtk::Application::isTerminating(); }));
    EXPECT_FALSE(window->isClosed());
}

// A device that leaves: its matching stops while it is still listed, then it leaves the
// list, then its media loader goes, and only then are the windows told.
TEST(KolvexAppDelegate, ALeavingDeviceIsForgottenInOrder) {
    foundationtest::ScratchFolder folder;
    auto phone = std::make_shared<testsupport::FakeMobileDevice>(folder.path(), "PHONE-R");
    KolvexAppDelegate* appDelegate = nullptr;
    bool windowsTold = false;
    std::vector<std::string> steps;
    AppServices services;
    services.cancelMatching = [&](const std::string& id) {
        steps.push_back("cancel " + id + (appDelegate->findMobileDeviceById(id) ? " listed" : ""));
    };
    services.dropMediaLoader = [&](const std::string& id) {
        steps.push_back("drop " + id + (appDelegate->findMobileDeviceById(id) ? " listed" : "") +
                        (windowsTold ? " told" : ""));
    };
    KolvexAppDelegate delegate(nullptr, services, {"orvandel"});
    appDelegate = &delegate;
    delegate.DeviceAdded(phone);
    auto& center = foundation::NotificationCenter::defaultCenter();
    const auto observer = center.addObserver(kIDeviceNotification, nullptr,
                                             [&](const foundation::Notification& n) {
                                                 const auto* cmd = n.get<foundation::Value>("cmd");
                                                 if (cmd && cmd->stringOr() == "removed")
                                                     windowsTold = true;
                                             });
    delegate.DeviceRemoved(phone);
    center.removeObserver(observer);
    EXPECT_EQ(steps, (std::vector<std::string>{"cancel PHONE-R listed", "drop PHONE-R"}));
    EXPECT_TRUE(windowsTold);
    EXPECT_TRUE(delegate.devices().empty());
}

}  // namespace
