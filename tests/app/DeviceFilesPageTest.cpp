#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>

#include "WebWindowFixture.h"
#include "app/AppDeviceFinder.h"
#include "data/db/SqlDatabase.h"
#include "app/DeviceDetection.h"
#include "foundation/Json.h"
#include "foundation/PropertyList.h"
#include "foundation/ScratchFolder.h"
#include "shell/KolvexAppDelegate.h"
#include "simdevice/SimUsbmuxServer.h"

using apptest::WebWindowTest;
using foundation::Value;
namespace fs = std::filesystem;

namespace {

// The running application's device-files section over a simulated phone found by the real
// detectors: its media folder listed folders first, a property list and an SQLite file
// opened as tables, and a folder made, renamed and deleted, all through "mdfs".
TEST_F(WebWindowTest, DeviceFilesSectionBrowsesReadsAndChangesTheDevicesFolders) {
    ::signal(SIGPIPE, SIG_IGN);
    foundationtest::ScratchFolder scratch;
    simdevice::SimUsbmuxServer server(scratch / "usbmux.sock");
    ASSERT_TRUE(server.start());
    ::setenv("USBMUXD_SOCKET_ADDRESS", server.socketAddress().c_str(), 1);
    const std::string media = scratch / "media";
    fs::create_directories(media + "/iTunes_Control/iTunes");
    fs::create_directories(media + "/DCIM");
    std::ofstream(media + "/iTunes_Control/iTunes/Ringtones.plist")
        << *foundation::plist::writeXml(Value::dict({{"Ringtones", Value::dict({{"ABCD.m4r", Value::dict(
                                                         {{"Name", "Morning Bell"}, {"Total Time", 12000}})}})}}));
    {
        auto db = SqlDatabase::databaseWithPath(media + "/iTunes_Control/iTunes/Library.sqlitedb");
        ASSERT_TRUE(db->open());
        ASSERT_TRUE(db->executeStatements(
            "CREATE TABLE item (id INTEGER, title TEXT); INSERT INTO item VALUES (7, 'Seven Seas');"));
        db->close();
    }

    auto window = std::make_shared<gtk::Window>(gtk::Rect{0, 0, 1200, 900},
                                                gtk::Titled | gtk::Closable | gtk::Resizable);
    // The manager "/fetch" finds devices through, as in the running application.
    DeviceManager& manager = DeviceManager::defaultDeviceManager();
    KolvexAppDelegate* appDelegate = nullptr;
    AppServices services;
    services.startDeviceDetection = [&](std::uint32_t kinds) {
        auto detectors = systemDetectors();
        detectors.watchSystemVolumes = false;
        manager.setDetectors(std::move(detectors));
        manager.setDeviceSupport(static_cast<std::int32_t>(kinds));
        manager.setDelegate(delegateRelay(*appDelegate));
        return manager.start();
    };
    auto finder = std::make_shared<AppDeviceFinder>();
    AppDeviceFinder::installIn(services, finder);
    KolvexAppDelegate delegate(window, services, {"orvandel"});
    appDelegate = &delegate;
    finder->setAppDelegate(&delegate);
    delegate.awakeFromNib();
    window->show();
    auto& view = *delegate.windowController()->webview();
    ASSERT_TRUE(waitForValue(view, "document.getElementById('bridge').textContent", "\"Connected\""));
    testsupport::runMainLoopUntil([&] { return manager.iPhoneListener() != nullptr; });
    simdevice::SimDeviceConfig config;
    config.name = "Sim Phone";
    config.root = media;
    auto phone = server.attach(config);
    server.pairHost(phone);

    const std::string rows =
        "Array.from(document.querySelectorAll('#device-files .files-list tr[data-name]'))"
        ".map(r => r.className + ':' + r.dataset.name).join('|')";
    const auto click = [&](const std::string& selector) {
        eval(view, "document.querySelector(" + foundation::json::write(Value(selector)) + ").click(); true");
    };
    EXPECT_TRUE(waitForValue(view, rows, "\"folder:DCIM|folder:iTunes_Control\""));
    click("#device-files tr[data-name='iTunes_Control']");
    waitForValue(view, rows, "\"folder:iTunes\"");
    click("#device-files tr[data-name='iTunes']");
    waitForValue(view, rows, "\"file:Library.sqlitedb|file:Ringtones.plist\"");
    waitForValue(view, "document.querySelector('#device-files tr[data-name=\"Ringtones.plist\"] .files-size').textContent",
                 "\"" + std::to_string(fs::file_size(media + "/iTunes_Control/iTunes/Ringtones.plist")) + " bytes\"");

    click("#device-files tr[data-name='Ringtones.plist'] button");
    waitForValue(view, "document.querySelector('#device-files .files-viewer').textContent.includes('Morning Bell')",
                 "true");
    click("#device-files tr[data-name='Library.sqlitedb'] button");
    waitForValue(view, "Array.from(document.querySelectorAll('#device-files .files-grid td')).map(c => c.textContent).join('|')",
                 "\"7|Seven Seas\"");
    screenshot(view, "device-files");

    // A folder made, renamed and deleted.
    eval(view, "document.querySelector('#device-files .files-new-name').value = 'Ringtones'; true");
    click("#device-files .files-bar button:last-child");
    waitForValue(view, rows, "\"folder:Ringtones|file:Library.sqlitedb|file:Ringtones.plist\"");
    EXPECT_TRUE(fs::is_directory(media + "/iTunes_Control/iTunes/Ringtones"));
    click("#device-files tr[data-name='Ringtones'] .files-actions button");
    eval(view, "document.querySelector('#device-files .files-rename').value = 'Tones'; true");
    click("#device-files tr[data-name='Ringtones'] .files-name button");
    waitForValue(view, rows, "\"folder:Tones|file:Library.sqlitedb|file:Ringtones.plist\"");
    click("#device-files tr[data-name='Tones'] .files-actions button:last-child");
    click("#device-files tr[data-name='Tones'] .files-actions button");
    waitForValue(view, rows, "\"file:Library.sqlitedb|file:Ringtones.plist\"");
    EXPECT_FALSE(fs::exists(media + "/iTunes_Control/iTunes/Tones"));

    // A further window has its own "mdfs".
    auto other = WVWindowController::createInstanceWithWindowRectStyleMaskWebconfig(
        {0, 0, 900, 700}, gtk::Titled | gtk::Closable | gtk::Resizable, nullptr);
    other->loadURLString("myapp://x/index.html");
    other->showWindow();
    EXPECT_TRUE(waitForValue(*other->webview(), rows, "\"folder:DCIM|folder:iTunes_Control\""));
    other->window()->close();

    // A refused request is shown.
    eval(view, "document.querySelector('#device-files .files-new-name').value = '..'; true");
    click("#device-files .files-bar button:last-child");
    waitForValue(view, "document.querySelector('#device-files .files-message .error').textContent",
                 "\"Invalid device path: /iTunes_Control/iTunes/..\"");
    server.detach(phone);
    waitForValue(view, rows, "\"\"");
    manager.stop();
    manager.setDelegate(nullptr);
    manager.iPhoneListener()->waitUntilIdle();
    finder->setAppDelegate(nullptr);
}

}  // namespace
