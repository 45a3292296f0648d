#pragma once

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <cstdlib>
#include <memory>
#include <string>

#include "WebWindowFixture.h"
#include "app/AppDeviceFinder.h"
#include "app/DeviceDetection.h"
#include "app/MediaLoaderRelay.h"
#include "content/ThreadPool.h"
#include "media/iTunesLibrary.h"
#include "shell/KolvexAppDelegate.h"
#include "simdevice/SimUsbmuxServer.h"

namespace apptest {

// The running application with the real detectors on the process's device manager (where
// "/fetch" finds devices), over a simulated multiplexer whose phones the test attaches.
class SimulatedPhoneApp {
public:
    explicit SimulatedPhoneApp(const std::string& folder) : server(folder + "/usbmux.sock") {}
    ~SimulatedPhoneApp() {
        // The page's last requests (a pairing test, a summary) end before the application
        // goes: they may still be asking a phone.
        testsupport::runMainLoopUntil([] { return ThreadPool::async().operationCount() == 0; });
        // As the application stops: an announcement being delivered may wait for the main
        // thread (the page hears of a device there), which turns meanwhile.
        stopDeviceDetection();
        if (manager.iPhoneListener()) manager.iPhoneListener()->waitUntilIdle();
        finder->setAppDelegate(nullptr);
    }

    // Starts the multiplexer and the application; true once the page's bridge is up and the
    // detectors listen. `adjust` may change the detectors first.
    bool start(std::function<void(DeviceManager::Detectors&)> adjust = {}) {
        ::signal(SIGPIPE, SIG_IGN);
        if (!server.start()) return false;
        ::setenv("USBMUXD_SOCKET_ADDRESS", server.socketAddress().c_str(), 1);
        window = std::make_shared<gtk::Window>(frame, gtk::Titled | gtk::Closable | gtk::Resizable);
        AppServices services;
        if (withMusicLibrary) {
            // The process's music library, where XDG_MUSIC_DIR and XDG_DATA_HOME put it.
            services.loadMusicLibrary = [] {
                auto& library = media::iTunesLibrary::itLibrary();
                library.loadTracks();
                return library.summary();
            };
            fillMediaLoading(services, appDelegate);
        }
        services.startDeviceDetection = [this, adjust](std::uint32_t kinds) {
            auto detectors = systemDetectors();
            detectors.watchSystemVolumes = false;
            if (adjust) adjust(detectors);
            manager.setDetectors(std::move(detectors));
            manager.setDeviceSupport(static_cast<std::int32_t>(kinds));
            manager.setDelegate(delegateRelay(*delegate));
            return manager.start();
        };
        services.retryDeviceSetUp = retryPhoneSetUp;
        AppDeviceFinder::installIn(services, finder);
        if (moreServices) moreServices(services);
        delegate = std::make_unique<KolvexAppDelegate>(window, services,
                                                       std::vector<std::string>{"orvandel"});
        appDelegate = delegate.get();
        finder->setAppDelegate(delegate.get());
        delegate->awakeFromNib();
        window->show();
        return WebWindowTest::waitForValue(view(), "document.documentElement.dataset.bridge",
                                           "\"ready\"") &&
               testsupport::runMainLoopUntil([&] { return manager.iPhoneListener() != nullptr; });
    }

    // A paired phone named "Sim Phone" serving `root` as its media files (and its
    // applications' folders under `containers`, when given); `adjust` may change it first.
    std::shared_ptr<simdevice::SimDevice> attachPhone(
        const std::string& root, const std::string& containers = "",
        const std::function<void(simdevice::SimDeviceConfig&)>& adjust = {}) {
        simdevice::SimDeviceConfig config;
        config.name = "Sim Phone";
        config.root = root;
        config.containersRoot = containers;
        if (adjust) adjust(config);
        auto phone = server.attach(config);
        server.pairHost(phone);
        return phone;
    }

    webkit::WebView& view() { return *delegate->windowController()->webview(); }

    simdevice::SimUsbmuxServer server;
    // Set before start(): the main window's place and size.
    gtk::Rect frame{0, 0, 1200, 900};
    DeviceManager& manager = DeviceManager::defaultDeviceManager();
    // Set before start(): fills further services (the application delegate is appDelegate).
    std::function<void(AppServices&)> moreServices;
    KolvexAppDelegate* appDelegate = nullptr;
    // Set before start(): the page gets the process's music library and device libraries load
    // on request. The test points XDG_MUSIC_DIR and XDG_DATA_HOME at folders of its own.
    bool withMusicLibrary = false;

private:
    std::shared_ptr<gtk::Window> window;
    std::shared_ptr<AppDeviceFinder> finder = std::make_shared<AppDeviceFinder>();
    std::unique_ptr<KolvexAppDelegate> delegate;
};

}  // namespace apptest
