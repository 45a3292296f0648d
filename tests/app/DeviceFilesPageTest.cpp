#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "WebWindowFixture.h"
#include "app/AppDeviceFinder.h"
#include "data/db/SqlDatabase.h"
#include "fakedevice/FakeMobileDevice.h"
#include "foundation/Json.h"
#include "foundation/PropertyList.h"
#include "foundation/ScratchFolder.h"
#include "shell/KolvexAppDelegate.h"

using apptest::WebWindowTest;
using foundation::Value;
namespace fs = std::filesystem;

namespace {

// The running application's device-files section over a directory-backed phone: its media
// folder listed folders first, a property list and an SQLite file opened as tables, and a
// folder made, renamed and deleted, all through "mdfs".
TEST_F(WebWindowTest, DeviceFilesSectionBrowsesReadsAndChangesTheDevicesFolders) {
    foundationtest::ScratchFolder scratch;
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
    auto phone = std::make_shared<testsupport::FakeMobileDevice>(media, "PHONE-FILES");

    auto window = std::make_shared<gtk::Window>(gtk::Rect{0, 0, 1200, 900},
                                                gtk::Titled | gtk::Closable | gtk::Resizable);
    std::atomic<bool> detecting = false;
    AppServices services;
    services.startDeviceDetection = [&](std::uint32_t) { return detecting = true; };
    auto finder = std::make_shared<AppDeviceFinder>();
    AppDeviceFinder::installIn(services, finder);
    KolvexAppDelegate delegate(window, services, {"orvandel"});
    finder->setAppDelegate(&delegate);
    delegate.awakeFromNib();
    window->show();
    ASSERT_TRUE(testsupport::runMainLoopUntil([&] { return detecting.load(); }));
    auto& view = *delegate.windowController()->webview();

    // As the detectors do, from a thread of their own; the bridge waits for the main loop.
    const auto onOtherThread = [](const std::function<void()>& work) {
        std::atomic<bool> done = false;
        std::thread thread([&] {
            work();
            done = true;
        });
        EXPECT_TRUE(testsupport::runMainLoopUntil([&] { return done.load(); }));
        thread.join();
    };
    onOtherThread([&] { delegate.DeviceAdded(phone); });

    const std::string rows =
        "Array.from(document.querySelectorAll('#device-files .files-list tr[data-name]'))"
        ".map(r => r.className + ':' + r.dataset.name).join('|')";
    const auto click = [&](const std::string& selector) {
        eval(view, "document.querySelector(" + foundation::json::write(Value(selector)) + ").click(); true");
    };
    waitForValue(view, rows, "\"folder:DCIM|folder:iTunes_Control\"");
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
    apptest::snapshotIfAsked(view);

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

    // A refused request is shown.
    eval(view, "document.querySelector('#device-files .files-new-name').value = '..'; true");
    click("#device-files .files-bar button:last-child");
    waitForValue(view, "document.querySelector('#device-files .files-message .error').textContent",
                 "\"Invalid device path: /iTunes_Control/iTunes/..\"");
    onOtherThread([&] { delegate.DeviceRemoved(phone); });
    waitForValue(view, rows, "\"\"");
    finder->setAppDelegate(nullptr);
}

}  // namespace
