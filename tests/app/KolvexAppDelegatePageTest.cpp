#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "WebWindowFixture.h"
#include "app/MediaLoaderRelay.h"
#include "content/AppFetchHandler.h"
#include "content/ThreadPool.h"
#include "fakedevice/FakeMobileDevice.h"
#include "foundation/OperationQueue.h"
#include "foundation/ScopedEnvironment.h"
#include "foundation/ScratchFolder.h"
#include "media/MediaLibraryFixtures.h"
#include "media/iTunesLibrary.h"
#include "media/iTunesWrapper.h"
#include "shell/KolvexAppDelegate.h"
#include "shell/bridge/WKWebViewScriptBridge.h"
#include "shell/plugins/WVPluginBase.h"

using apptest::OpenedWindows;
using apptest::WebWindowTest;
using foundation::Value;

namespace {

// The running application's start page over a main window, with the services the test
// gives; ready once the page's first "bridgeReady" has started the library load.
struct StartedApp {
    explicit StartedApp(AppServices given, std::uint64_t style = gtk::Titled | gtk::Closable)
        : window(std::make_shared<gtk::Window>(gtk::Rect{0, 0, 700, 500}, style)) {
        auto load = given.loadMusicLibrary;
        given.loadMusicLibrary = [this, load] {
            if (load) load();
            ++libraryLoads;
        };
        services = std::move(given);
        delegate = std::make_unique<KolvexAppDelegate>(window, services,
                                                       std::vector<std::string>{"orvandel"});
        delegate->awakeFromNib();
        window->show();
        EXPECT_TRUE(testsupport::runMainLoopUntil([&] { return libraryLoads == 1; }));
        EXPECT_TRUE(WebWindowTest::waitForValue(view(), "typeof App.on", "\"function\""));
    }
    ~StartedApp() {
        // Page requests answer through the main loop: it runs while the pool drains.
        testsupport::runMainLoopUntil([] { return ThreadPool::async().operationCount() == 0; });
    }
    webkit::WebView& view() { return *delegate->windowController()->webview(); }
    // Keeps what the page hears of the pushes as "name:deviceId" (and the step, for the
    // media loading) in window.heard.
    void listen(const std::vector<std::string>& pushes) {
        std::string names;
        for (const auto& name : pushes) names += (names.empty() ? "'" : ", '") + name + "'";
        WebWindowTest::eval(
            view(), "window.heard = []; [" + names +
                        "].forEach(function (n) { App.on(n, function (d) {"
                        " window.heard.push(n + ':' + d.deviceId + (d.step ? ':' + d.step : ''));"
                        " }); }); 0");
    }

    std::shared_ptr<gtk::Window> window;
    AppServices services;
    std::atomic<int> libraryLoads = 0;
    std::unique_ptr<KolvexAppDelegate> delegate;
};

std::shared_ptr<testsupport::FakeMobileDevice> fakePhone(const std::string& root,
                                                         const std::string& id) {
    std::filesystem::create_directories(root);
    return std::make_shared<testsupport::FakeMobileDevice>(root, id);
}

// A page reload reports the bridge ready again: every known device is told again, in the
// order of the list, each as "deviceAdded", "playlistsLoaded", "tracksLoaded". The page's
// three device requests reach only devices that are connected.
TEST_F(WebWindowTest, BridgeReadyReplaysTheKnownDevicesAndServesTheirRequests) {
    foundationtest::ScratchFolder folder;
    std::vector<std::string> retried, loaded, synced;
    AppServices services;
    services.retryDeviceSetUp = [&](const std::shared_ptr<AppDevice>& device) {
        retried.push_back(device->uuid());
    };
    services.loadDeviceLibrary = [&](const std::string& id) { loaded.push_back(id); };
    services.syncLibraryStatus = [&](const std::string& id) { synced.push_back(id); };
    StartedApp app(services);
    app.listen({"deviceAdded", "playlistsLoaded", "tracksLoaded"});
    app.delegate->DeviceAdded(fakePhone(folder / "a", "DEV-A"));
    app.delegate->DeviceAdded(fakePhone(folder / "b", "DEV-B"));
    waitForValue(app.view(), "window.heard.join('|')", "\"deviceAdded:DEV-A|deviceAdded:DEV-B\"");

    int announced = 0;
    auto& center = foundation::NotificationCenter::defaultCenter();
    const auto observer = center.addObserver(kIDeviceNotification, nullptr,
                                             [&](const foundation::Notification&) { ++announced; });
    eval(app.view(), "window.heard = []; 0");
    app.delegate->OnWVBridgeReady(Value::dict({}));
    waitForValue(app.view(), "window.heard.join('|')",
                 "\"deviceAdded:DEV-A|playlistsLoaded:DEV-A|tracksLoaded:DEV-A|"
                 "deviceAdded:DEV-B|playlistsLoaded:DEV-B|tracksLoaded:DEV-B\"");
    center.removeObserver(observer);
    EXPECT_EQ(announced, 2);

    eval(app.view(),
         "window.heard = []; App.call('reconnect-device', {deviceId: 'NOPE'}); App.call('reconnect-device', 'DEV-A');"
         "App.call('sync-library-status', {deviceId: 'NOPE'});"
         "App.call('load-device-library', {deviceId: 'NOPE'});"
         "App.call('load-device-library', {}); App.call('sync-library-status', {deviceId: 5});"
         "App.call('reconnect-device', {deviceId: 'DEV-B'});"
         "App.call('sync-library-status', {deviceId: 'DEV-A'});"
         "App.call('load-device-library', {deviceId: 'DEV-B'}); 0");
    EXPECT_TRUE(testsupport::runMainLoopUntil([&] { return !loaded.empty(); }));
    waitForValue(app.view(), "window.heard.join('|')", "\"deviceAdded:DEV-B\"");
    EXPECT_EQ(retried, std::vector<std::string>{"DEV-B"});
    EXPECT_EQ(synced, std::vector<std::string>{"DEV-A"});
    EXPECT_EQ(loaded, std::vector<std::string>{"DEV-B"});
    EXPECT_EQ(app.libraryLoads, 1);
}

// "titleHeight" below 100 sets the title height of a borderless main window; 100, text, a
// negative number or a window with a title bar leave it as it is.
TEST_F(WebWindowTest, BridgeReadySetsTheTitleHeightOfABorderlessMainWindowBelow100) {
    StartedApp borderless({}, gtk::Closable | gtk::Resizable);
    ASSERT_TRUE(borderless.window->isBorderless());
    auto height = [&](const Value& given) {
        borderless.delegate->OnWVBridgeReady(Value::dict({{"titleHeight", given}}));
        return borderless.window->titleHeight();
    };
    EXPECT_EQ(height(99), 99u);
    EXPECT_EQ(height(100), 99u);
    EXPECT_EQ(height("40"), 99u);
    EXPECT_EQ(height(-1), 99u);
    EXPECT_EQ(height(true), 1u);  // a boolean is the number 1
    EXPECT_EQ(height(12.7), 12u);
    EXPECT_EQ(height(0), 0u);

    StartedApp titled({});
    titled.delegate->OnWVBridgeReady(Value::dict({{"titleHeight", 40}}));
    EXPECT_EQ(titled.window->titleHeight(), 0u);
}

// The library of a device is read by one loader: a second request loads again through the
// loader registered by the first, over a fresh media service each time.
TEST_F(WebWindowTest, ASecondLibraryLoadReusesTheRegisteredLoader) {
    foundationtest::ScratchFolder scratch;
    foundationtest::ScopedEnvironment environment;
    environment.set("TMPDIR", scratch.path());
    mediatest::writePhoneMediaLibrary(scratch / "media");
    auto phone = fakePhone(scratch / "media", "DEV-L");
    static media::iTunesWrapper wrapper(music::MusicScript::load(
        {scratch / "Music", scratch / "index.sqlite", [] { return std::string("/$a/$b/$t"); }},
        nullptr));
    media::iTunesLibrary library(wrapper);
    KolvexAppDelegate* appDelegate = nullptr;
    AppServices services;
    fillMediaLoading(services, appDelegate, &library);
    StartedApp app(services);
    appDelegate = app.delegate.get();
    app.delegate->DeviceAdded(phone);

    app.listen({"deviceMediaLoading"});
    // A load ends with its match (which may end before the load's last step): a request
    // made before that is the same load.
    const std::string steps =
        "window.heard.filter(function (h) { return /Library|tracks|matching/.test(h); })"
        ".sort().join('|')";
    eval(app.view(), "App.call('load-device-library', {deviceId: 'DEV-L'}); 0");
    waitForValue(app.view(), steps,
                 "\"deviceMediaLoading:DEV-L:loadingLibrary|deviceMediaLoading:DEV-L:matching|"
                 "deviceMediaLoading:DEV-L:tracksLoaded\"");
    const auto loader = content::AppFetchHandler::mediaLoaderOf("DEV-L");
    ASSERT_NE(loader, nullptr);
    eval(app.view(), "App.call('load-device-library', {deviceId: 'DEV-L'}); 0");
    waitForValue(app.view(), steps,
                 "\"deviceMediaLoading:DEV-L:loadingLibrary|deviceMediaLoading:DEV-L:loadingLibrary|"
                 "deviceMediaLoading:DEV-L:matching|deviceMediaLoading:DEV-L:matching|"
                 "deviceMediaLoading:DEV-L:tracksLoaded|deviceMediaLoading:DEV-L:tracksLoaded\"");
    EXPECT_EQ(content::AppFetchHandler::mediaLoaderOf("DEV-L"), loader);
    EXPECT_EQ(phone->callCount("connect"), 2);
    app.delegate->DeviceRemoved(phone);
    EXPECT_EQ(content::AppFetchHandler::mediaLoaderOf("DEV-L"), nullptr);
}

class NullPlugin : public WVPluginBase {
public:
    using WVPluginBase::WVPluginBase;

protected:
    void OnJSNotification(const foundation::Notification&) override {}
};

// A further web window gets one device plugin of its own when its page is first ready; a
// reload keeps it and tells the page of the known devices again; closing the window lets it
// go. The main window gets none this way.
TEST_F(WebWindowTest, AFurtherWindowKeepsOneDevicePluginAcrossReloadsUntilItCloses) {
    foundationtest::ScratchFolder folder;
    std::vector<std::weak_ptr<WVPluginBase>> made;
    AppServices services;
    services.makeDevicePlugin = [&](const std::shared_ptr<WVWindowController>& controller) {
        auto plugin = std::make_shared<NullPlugin>(controller->wvbridge(),
                                                   std::weak_ptr<void>(controller->webview()),
                                                   std::weak_ptr<void>(controller->window()));
        made.push_back(plugin);
        return plugin;
    };
    StartedApp app(services);
    app.delegate->DeviceAdded(fakePhone(folder / "a", "DEV-W"));
    EXPECT_TRUE(made.empty());

    OpenedWindows opened;
    int ready = 0;
    int announced = 0;
    auto& center = foundation::NotificationCenter::defaultCenter();
    const auto readyObserver = center.addObserver(
        kWebviewWindowControllerCreated, nullptr, [&](const foundation::Notification& n) {
            if (n.object != app.delegate->windowController().get()) ++ready;
        });
    const auto deviceObserver =
        center.addObserver(kIDeviceNotification, nullptr, [&](const foundation::Notification& n) {
            const auto* device = n.get<Value>("device");
            if (device && (*device)["deviceId"].stringOr() == "DEV-W") ++announced;
        });
    eval(app.view(), "App.ui.openDeviceWindow({deviceId: 'DEV-W', name: 'Phone'}); 0");
    ASSERT_TRUE(testsupport::runMainLoopUntil([&] { return ready == 1; }));
    auto* further = opened.all.back();
    ASSERT_EQ(made.size(), 1u);
    EXPECT_FALSE(made[0].expired());
    const int announcedBefore = announced;
    EXPECT_GE(announcedBefore, 1);

    eval(*further->webview(), "location.reload(); 0");
    ASSERT_TRUE(testsupport::runMainLoopUntil([&] { return ready == 2; }));
    EXPECT_EQ(made.size(), 1u);
    EXPECT_FALSE(made[0].expired());
    EXPECT_EQ(announced, announcedBefore + 1);
    center.removeObserver(readyObserver);
    center.removeObserver(deviceObserver);

    further->window()->performClose();
    EXPECT_TRUE(testsupport::runMainLoopUntil([&] { return made[0].expired(); }));
    EXPECT_EQ(made.size(), 1u);
}

// "updateTrack" carries the record with "pidstr": the pid as signed 64-bit decimal text,
// "0" without one; an unsigned pid keeps its bits.
TEST_F(WebWindowTest, AnUpdatedTrackCarriesItsPidAsSignedText) {
    foundationtest::ScratchFolder folder;
    StartedApp app({});
    auto phone = fakePhone(folder / "p", "DEV-P");
    eval(app.view(), "window.pidstrs = []; App.on('deviceMediaLoading', function (d) {"
                     " if (d.track) window.pidstrs.push(d.track.pidstr + '/' + d.track.title); }); 0");
    const Value records[] = {
        Value::dict({{"title", "none"}}),
        Value::dict({{"title", "negative"}, {"pid", std::int64_t{-42}}}),
        Value::dict({{"title", "text"}, {"pid", "1234"}}),
        Value::dict({{"title", "words"}, {"pid", "many"}}),
        Value::dict({{"title", "top bit"}, {"pid", std::uint64_t{0xF000000000000001}}}),
        Value::dict({{"title", "large"}, {"pid", std::int64_t{9007199254740993}}}),
    };
    for (const auto& record : records) app.delegate->updateTrackInfoOf(record, *phone);
    waitForValue(app.view(), "window.pidstrs.join('|')",
                 "\"0/none|-42/negative|1234/text|0/words|-1152921504606846975/top bit|"
                 "9007199254740993/large\"");
}

}  // namespace
