#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "DialogAnswerer.h"
#include "app/AppDeviceFinder.h"
#include "WebWindowFixture.h"
#include "content/ThreadPool.h"
#include "fakedevice/FakeMobileDevice.h"
#include "foundation/ScratchFolder.h"
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

// The quit question, shown, ended by a person as the key or the window's close button does.
void endQuitQuestion(KolvexAppDelegate& delegate, const std::function<void(GtkWidget*)>& end) {
    ASSERT_TRUE(testsupport::runMainLoopUntil([&] {
        return delegate.quitAlert() && delegate.quitAlert()->dialog() &&
               gtk_widget_get_visible(delegate.quitAlert()->dialog());
    }));
    end(delegate.quitAlert()->dialog());
    EXPECT_TRUE(testsupport::runMainLoopUntil([&] { return delegate.quitAlert() == nullptr; }));
}

TEST_F(WebWindowTest, StartUpRunsEveryStepAndOnlyYesQuits) {
    auto window = std::make_shared<gtk::Window>(gtk::Rect{0, 0, 600, 400},
                                                gtk::Titled | gtk::Closable | gtk::Resizable);
    std::atomic<int> libraryLoads = 0;
    std::atomic<std::uint32_t> detectedKinds = 0;
    AppServices services;
    services.loadMusicLibrary = [&] {
        ++libraryLoads;
        return foundation::Value();
    };
    services.startDeviceDetection = [&](std::uint32_t kinds) {
        detectedKinds = kinds;
        return true;
    };
    KolvexAppDelegate delegate(window, services, {"orvandel"});
    // Loads the bundle's own pack and start page.
    delegate.awakeFromNib();
    window->show();
    ASSERT_TRUE(testsupport::runMainLoopUntil([&] { return detectedKinds == 11; }));
    EXPECT_EQ(libraryLoads, 1);

    // A reload asks again; the library and detection do not start a second time.
    auto view = delegate.windowController()->webview();
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
