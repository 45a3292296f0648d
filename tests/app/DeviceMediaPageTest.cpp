#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "Snapshot.h"
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

using apptest::WebWindowTest;

// The running application loads a connected phone's media library when the page asks, and
// the page shows its tracks as the match reports them; the device's leaving drops its loader.
TEST_F(WebWindowTest, DeviceMediaSectionLoadsAPhonesLibraryOnRequest) {
    foundationtest::ScratchFolder folder;
    foundationtest::ScopedEnvironment environment;
    environment.set("TMPDIR", folder.path());
    const std::string media = folder / "phone";
    mediatest::writePhoneMediaLibrary(media);
    std::ofstream(media + "/iTunes_Control/iTunes/Ringtones.plist") << mediatest::kRingtonesPlist;
    auto phone = std::make_shared<testsupport::FakeMobileDevice>(media, "PHONE-M");

    static media::iTunesWrapper wrapper(music::MusicScript::load(
        {folder / "Music", folder / "index.sqlite", [] { return std::string("/$a/$b/$t"); }},
        nullptr));
    media::iTunesLibrary library(wrapper);
    auto window = std::make_shared<gtk::Window>(gtk::Rect{0, 0, 1100, 720},
                                                gtk::Titled | gtk::Closable | gtk::Resizable);
    std::atomic<bool> listening = false;
    KolvexAppDelegate* appDelegate = nullptr;
    AppServices services;
    services.startDeviceDetection = [&](std::uint32_t) { return listening = true; };
    fillMediaLoading(services, appDelegate, &library);
    KolvexAppDelegate delegate(window, services, {"orvandel"});
    appDelegate = &delegate;
    delegate.awakeFromNib();
    window->show();
    ASSERT_TRUE(testsupport::runMainLoopUntil([&] { return listening.load(); }));
    auto& view = *delegate.windowController()->webview();

    onOtherThread([&] { delegate.DeviceAdded(phone); });
    waitForValue(view, "document.querySelector('#device-media h3').textContent", "\"Fake Phone\"");
    eval(view, "document.querySelector('#device-media .media-load').click(); 0");
    const std::string rows =
        "Array.from(document.querySelectorAll('#device-media tbody tr'))"
        ".map(function (r) { return Array.from(r.children).map(function (c) {"
        " return c.textContent; }).join(','); }).join('|')";
    waitForValue(
        view, rows,
        "\",Alpha,Ann,First,3:00,,ExportWrite tags|,Beta,Bob,First,1:00,,ExportWrite tags|"
        ",Gamma,Bob,First,0:01,,ExportWrite tags|,Bell,Me,,0:30,,ExportWrite tags|,,,,0:00,,ExportWrite tags\"");
    // The match's end reached the page (this test serves no "/fetch", so the count of the
    // load is left to the tests of the running application).
    waitForValue(view, "document.querySelector('#device-media .media-device').hasAttribute('data-matched')",
                 "true");
    // Page requests answer through the main loop: it must run while the pool drains.
    EXPECT_TRUE(testsupport::runMainLoopUntil([] { return ThreadPool::async().operationCount() == 0; }));
    EXPECT_NE(content::AppFetchHandler::mediaLoaderOf("PHONE-M"), nullptr);
    apptest::snapshotIfAsked(view);

    onOtherThread([&] { delegate.DeviceRemoved(phone); });
    waitForValue(view, "document.querySelector('#device-media .media-device') === null", "true");
    EXPECT_EQ(content::AppFetchHandler::mediaLoaderOf("PHONE-M"), nullptr);
}
