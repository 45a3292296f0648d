#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "SimulatedPhoneApp.h"
#include "WebWindowFixture.h"
#include "device/iPodDevice.h"
#include "foundation/ScratchFolder.h"
#include "media/GpodFixtures.h"

using apptest::WebWindowTest;

namespace {

// The running application's start page with the real detectors: a simulated phone found
// through the real libimobiledevice, and an iPod folder written by libgpod that appears in
// and leaves a mount table of the test's own.
TEST_F(WebWindowTest, SimulatedPhoneAndLibgpodIPodArriveAndLeave) {
    foundationtest::ScratchFolder scratch;

    std::filesystem::create_directories(scratch / "IPOD/iPod_Control/iTunes");
    auto itdb = mediatest::makeGpodDatabase(1);
    ASSERT_TRUE(mediatest::writeGpodDatabase(itdb.get(), scratch / "IPOD/iPod_Control/iTunes/iTunesDB"));
    auto mount = [&](bool present) {
        std::ofstream table(scratch / "mounts");
        if (present) table << "/dev/sdz1 " << scratch / "IPOD" << " vfat rw 0 0\n";
    };
    mount(false);
    auto volumes = std::make_shared<volumes::VolumeMonitor>(scratch / "mounts");

    apptest::SimulatedPhoneApp app(scratch.path());
    ASSERT_TRUE(app.start([&](DeviceManager::Detectors& detectors) {
        detectors.pods = [](const std::string& path) {
            return std::make_shared<iPodDevice>(path, [](const std::string&) { return "000A27SIMPOD"; });
        };
        detectors.volumes = volumes;
    }));
    auto* view = &app.view();
    const std::string names = "Array.from(document.querySelectorAll('#devices > li .device-name'))"
                              ".map(e => e.textContent).join('|')";
    auto phone = app.attachPhone("");
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

    app.server.detach(phone);
    EXPECT_TRUE(waitForValue(*view, names, "\"Gpod iPod\""));
    mount(false);
    volumes->rescan();
    EXPECT_TRUE(waitForValue(*view, "document.querySelector('#devices .empty') !== null", "true"));
}

}  // namespace
