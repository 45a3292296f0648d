#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>

#include "WebWindowFixture.h"
#include "app/DeviceDetection.h"
#include "device/iPodDevice.h"
#include "foundation/ScratchFolder.h"
#include "media/GpodFixtures.h"
#include "simdevice/SimUsbmuxServer.h"
#include "shell/KolvexAppDelegate.h"

using apptest::WebWindowTest;

namespace {

// The running application's start page with the real detectors: a simulated phone found
// through the real libimobiledevice, and an iPod folder written by libgpod that appears in
// and leaves a mount table of the test's own.
TEST_F(WebWindowTest, SimulatedPhoneAndLibgpodIPodArriveAndLeave) {
    ::signal(SIGPIPE, SIG_IGN);
    foundationtest::ScratchFolder scratch;
    simdevice::SimUsbmuxServer server(scratch / "usbmux.sock");
    ASSERT_TRUE(server.start());
    ::setenv("USBMUXD_SOCKET_ADDRESS", server.socketAddress().c_str(), 1);

    std::filesystem::create_directories(scratch / "IPOD/iPod_Control/iTunes");
    auto itdb = mediatest::makeGpodDatabase(1);
    ASSERT_TRUE(mediatest::writeGpodDatabase(itdb.get(), scratch / "IPOD/iPod_Control/iTunes/iTunesDB"));
    auto mount = [&](bool present) {
        std::ofstream table(scratch / "mounts");
        if (present) table << "/dev/sdz1 " << scratch / "IPOD" << " vfat rw 0 0\n";
    };
    mount(false);
    auto volumes = std::make_shared<volumes::VolumeMonitor>(scratch / "mounts");

    auto window = std::make_shared<gtk::Window>(gtk::Rect{0, 0, 900, 700},
                                                gtk::Titled | gtk::Closable | gtk::Resizable);
    // The manager "/fetch" finds devices through, as in the running application.
    DeviceManager& manager = DeviceManager::defaultDeviceManager();
    KolvexAppDelegate* appDelegate = nullptr;
    AppServices services;
    services.startDeviceDetection = [&](std::uint32_t kinds) {
        auto detectors = systemDetectors();
        detectors.pods = [](const std::string& path) {
            return std::make_shared<iPodDevice>(path, [](const std::string&) { return "000A27SIMPOD"; });
        };
        detectors.volumes = volumes;
        detectors.watchSystemVolumes = false;
        manager.setDetectors(std::move(detectors));
        manager.setDeviceSupport(static_cast<std::int32_t>(kinds));
        manager.setDelegate(delegateRelay(*appDelegate));
        return manager.start();
    };
    KolvexAppDelegate delegate(window, services, {"orvandel"});
    appDelegate = &delegate;
    delegate.awakeFromNib();
    window->show();
    auto view = delegate.windowController()->webview();
    const std::string names = "Array.from(document.querySelectorAll('#devices > li .device-name'))"
                              ".map(e => e.textContent).join('|')";
    ASSERT_TRUE(waitForValue(*view, "document.getElementById('bridge').textContent", "\"Connected\""));
    testsupport::runMainLoopUntil([&] { return manager.iPhoneListener() != nullptr; });

    simdevice::SimDeviceConfig config;
    config.name = "Sim Phone";
    auto phone = server.attach(config);
    server.pairHost(phone);
    mount(true);
    volumes->rescan();
    // The phone stands first, whatever came first.
    EXPECT_TRUE(waitForValue(*view, names, "\"Sim Phone|Gpod iPod\""));
    // The phone's applications that share files, listed through "/fetch".
    EXPECT_TRUE(waitForValue(*view,
                             "Array.from(document.querySelectorAll('#devices .app-name'))"
                             ".map(e => e.textContent).join('|')",
                             "\"Podcasts+|Reader|Voice Memos Pro\""));
    screenshot(*view, "devices-arrived");

    server.detach(phone);
    EXPECT_TRUE(waitForValue(*view, names, "\"Gpod iPod\""));
    mount(false);
    volumes->rescan();
    EXPECT_TRUE(waitForValue(*view, "document.querySelector('#devices .empty') !== null", "true"));
    manager.stop();
    manager.setDelegate(nullptr);
    manager.iPhoneListener()->waitUntilIdle();
}

}  // namespace
