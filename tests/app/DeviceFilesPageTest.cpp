#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "SimulatedPhoneApp.h"
#include "WebWindowFixture.h"
#include "data/db/SqlDatabase.h"
#include "foundation/Json.h"
#include "foundation/PropertyList.h"
#include "foundation/ScratchFolder.h"

using apptest::WebWindowTest;
using foundation::Value;
namespace fs = std::filesystem;

namespace {

// The running application's device-files section over a simulated phone found by the real
// detectors: its media folder listed folders first, a property list and an SQLite file
// opened as tables, and a folder made, renamed and deleted, all through "mdfs".
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

    apptest::SimulatedPhoneApp app(scratch.path());
    app.frame = {0, 0, 1100, 720};  // the main window's own first size
    ASSERT_TRUE(app.start());
    auto& view = app.view();
    auto phone = app.attachPhone(media);

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
    // The open folder's path is shown whole, however narrow its box.
    EXPECT_EQ(eval(view, "(p => p.textContent + ':' + (p.scrollWidth <= p.clientWidth))"
                         "(document.querySelector('#device-files .files-path'))"),
              "\"/iTunes_Control/iTunes:true\"");
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
    app.server.detach(phone);
    waitForValue(view, rows, "\"\"");
}

}  // namespace
