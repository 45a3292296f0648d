// The device files, copies and computer files sections over a simulated phone, as a person
// uses them: files renamed and deleted as folders are, a device file copied to the computer
// from the list, a replaced file asked about first, progress in the file's own size, a new
// computer folder named, and nothing running into anything else at the default window size.
#include <gtest/gtest.h>

#include <filesystem>

#include "SimulatedPhoneApp.h"
#include "WebWindowFixture.h"
#include "foundation/Json.h"
#include "foundation/ScratchFolder.h"

using apptest::WebWindowTest;
using foundation::Value;
namespace fs = std::filesystem;
using foundationtest::contentsOf;
using foundationtest::writeText;

namespace {

class DeviceFileActionsPage : public WebWindowTest {
protected:
    void SetUp() override {
        WebWindowTest::SetUp();
        media = scratch / "media";
        computer = scratch / "pc";
        fs::create_directories(media + "/Notes");
        fs::create_directories(computer);
    }
    bool start() {
        app = std::make_unique<apptest::SimulatedPhoneApp>(scratch.path());
        app->frame = {0, 0, 1100, 720};
        if (!app->start()) return false;
        app->attachPhone(media);
        return waitForValue(view(), rows(), "\"Notes\"");
    }
    webkit::WebView& view() { return app->view(); }
    static std::string quoted(const std::string& text) { return foundation::json::write(Value(text)); }
    static std::string rows() {
        return "Array.from(document.querySelectorAll('#device-files .files-list tr[data-name]'))"
               ".map(r => r.dataset.name).join('|')";
    }
    static std::string text(const std::string& selector) {
        return "(document.querySelector(" + quoted(selector) + ") || {}).textContent";
    }
    void click(const std::string& selector) {
        eval(view(), "document.querySelector(" + quoted(selector) + ").click(); true");
    }
    void set(const std::string& selector, const std::string& value) {
        eval(view(), "document.querySelector(" + quoted(selector) + ").value = " + quoted(value) + "; true");
    }
    // A key pressed in the field the selector names.
    void press(const std::string& selector, const std::string& key) {
        eval(view(), "document.querySelector(" + quoted(selector) +
                         ").dispatchEvent(new KeyboardEvent('keydown', {key: " + quoted(key) +
                         ", bubbles: true})); true");
    }
    // The buttons of a row, by their words.
    std::string buttonsOf(const std::string& name) {
        return eval(view(), "Array.from(document.querySelectorAll(\"#device-files tr[data-name='" + name +
                                "'] .files-actions button\")).map(b => b.textContent).join('|')");
    }
    void openNotes() {
        click("#device-files tr[data-name='Notes']");
        ASSERT_TRUE(waitForValue(view(), "document.querySelector('#device-files .files-path').textContent",
                                 "\"/Notes\""));
    }

    foundationtest::ScratchFolder scratch;
    std::string media;
    std::string computer;
    std::unique_ptr<apptest::SimulatedPhoneApp> app;
};

TEST_F(DeviceFileActionsPage, FilesAreRenamedWithEnterAndDeletedAfterAQuestion) {
    writeText(media + "/Notes/todo.txt", "milk");
    writeText(media + "/Notes/photo.bin", "pixels");
    ASSERT_TRUE(start());
    openNotes();
    ASSERT_TRUE(waitForValue(view(), rows(), "\"photo.bin|todo.txt\""));
    EXPECT_EQ(buttonsOf("todo.txt"), "\"Edit|Copy to computer|Rename|Delete\"");
    EXPECT_EQ(buttonsOf("photo.bin"), "\"Copy to computer|Rename|Delete\"");

    // Enter confirms a new name; Escape keeps the old one.
    click("#device-files tr[data-name='todo.txt'] .files-actions button:nth-last-child(2)");
    set("#device-files .files-rename", "shopping.txt");
    press("#device-files .files-rename", "Enter");
    ASSERT_TRUE(waitForValue(view(), rows(), "\"photo.bin|shopping.txt\""));
    EXPECT_EQ(contentsOf(media + "/Notes/shopping.txt"), "milk");
    click("#device-files tr[data-name='photo.bin'] .files-actions button:nth-last-child(2)");
    set("#device-files .files-rename", "kept.bin");
    press("#device-files .files-rename", "Escape");
    ASSERT_TRUE(waitForValue(view(), "document.querySelectorAll('#device-files .files-rename').length", "0"));
    EXPECT_TRUE(fs::exists(media + "/Notes/photo.bin"));

    // A file is deleted only once the person says so.
    click("#device-files tr[data-name='photo.bin'] .files-actions button:last-child");
    EXPECT_EQ(eval(view(), text("#device-files tr[data-name='photo.bin'] .files-ask")),
              quoted("Delete \xE2\x80\x9Cphoto.bin\xE2\x80\x9D?"));
    click("#device-files tr[data-name='photo.bin'] .files-actions button:last-child");  // Keep
    ASSERT_TRUE(waitForValue(view(), "document.querySelectorAll('#device-files .files-ask').length", "0"));
    click("#device-files tr[data-name='photo.bin'] .files-actions button:last-child");
    click("#device-files tr[data-name='photo.bin'] .files-actions button:nth-child(2)");  // Delete
    ASSERT_TRUE(waitForValue(view(), rows(), "\"shopping.txt\""));
    EXPECT_FALSE(fs::exists(media + "/Notes/photo.bin"));
}

TEST_F(DeviceFileActionsPage, CopiesComeFromTheListAskBeforeReplacingAndShowTheRealSize) {
    writeText(media + "/Notes/todo.txt", "milk");
    const std::string fiftyTwo(52, 'x');
    writeText(computer + "/todo.txt", fiftyTwo);
    writeText(computer + "/old.txt", "kept");
    ASSERT_TRUE(start());
    eval(view(), "App.computerFiles.open(" + quoted(computer) + "); true");
    ASSERT_TRUE(waitForValue(view(), "App.computerFiles.folder()", quoted(computer)));
    openNotes();
    ASSERT_TRUE(waitForValue(view(), rows(), "\"todo.txt\""));
    click("#device-files tr[data-name='todo.txt'] .files-name");
    EXPECT_EQ(eval(view(), text("#copies .copies-picked")), "\"/Notes/todo.txt (4 bytes)\"");

    // Copying onto a file of the same name asks first; keeping it copies nothing.
    click("#device-files tr[data-name='todo.txt'] .files-copy");
    ASSERT_TRUE(waitForValue(view(), text("#copies .copies-ask span"),
                             quoted("\xE2\x80\x9Ctodo.txt\xE2\x80\x9D is already in " + computer + ". Replace it?")));
    click("#copies .copies-keep");
    ASSERT_TRUE(waitForValue(view(), text("#copies .copies-message p"), "\"Nothing was copied.\""));
    EXPECT_EQ(contentsOf(computer + "/todo.txt"), fiftyTwo);
    click("#copies .copies-download");
    ASSERT_TRUE(waitForValue(view(), "!!document.querySelector('#copies .copies-replace')", "true"));
    click("#copies .copies-replace");
    ASSERT_TRUE(waitForValue(view(), text("#copies .copies-message p"),
                             quoted("Copied todo.txt to " + computer + "/todo.txt.")));
    EXPECT_EQ(contentsOf(computer + "/todo.txt"), "milk");
    EXPECT_EQ(eval(view(), text("#copies .copies-bytes")), "\"4 bytes of 4 bytes\"");

    // An upload of a 52-byte file shows 52 bytes, and the open folder and text view show it.
    writeText(computer + "/todo.txt", fiftyTwo);
    click("#device-files tr[data-name='todo.txt'] button");  // Edit
    ASSERT_TRUE(waitForValue(view(), "document.querySelector('#device-files .text-area').value", "\"milk\""));
    set("#copies .copies-computer", computer + "/todo.txt");
    click("#copies .copies-upload");
    ASSERT_TRUE(waitForValue(view(), "!!document.querySelector('#copies .copies-replace')", "true"));
    click("#copies .copies-replace");
    ASSERT_TRUE(waitForValue(view(), text("#copies .copies-message p"), "\"Copied todo.txt to /Notes/todo.txt.\""));
    EXPECT_EQ(contentsOf(media + "/Notes/todo.txt"), fiftyTwo);
    EXPECT_TRUE(waitForValue(view(), text("#copies .copies-bytes"), "\"52 bytes of 52 bytes\""));
    EXPECT_TRUE(waitForValue(view(), "document.querySelector('#device-files .text-area').value", quoted(fiftyTwo)));
    EXPECT_TRUE(waitForValue(view(), text("#device-files tr[data-name='todo.txt'] .files-size"), "\"52 bytes\""));

    set("#copies .copies-computer", computer + "/old.txt");
    click("#copies .copies-upload");
    ASSERT_TRUE(waitForValue(view(), rows(), "\"old.txt|todo.txt\""));
    EXPECT_EQ(contentsOf(media + "/Notes/old.txt"), "kept");
    screenshot(view(), "copies-from-the-list");
}

TEST_F(DeviceFileActionsPage, ComputerFoldersAreNamedByThePerson) {
    ASSERT_TRUE(start());
    eval(view(), "App.computerFiles.open(" + quoted(computer) + "); true");
    ASSERT_TRUE(waitForValue(view(), "App.computerFiles.folder()", quoted(computer)));
    set("#computer-files .cf-new-name", "Holiday 2026");
    click("#computer-files .cf-new");
    const std::string names = "Array.from(document.querySelectorAll('#computer-files .cf-name'))"
                              ".map(n => n.textContent).join('|')";
    ASSERT_TRUE(waitForValue(view(), names, "\"..|Holiday 2026\""));
    EXPECT_TRUE(fs::is_directory(computer + "/Holiday 2026"));
    EXPECT_EQ(eval(view(), "document.querySelector('#computer-files .cf-new-name').value"), "\"\"");

    // Enter makes it too; a taken name is refused.
    set("#computer-files .cf-new-name", "Work");
    press("#computer-files .cf-new-name", "Enter");
    ASSERT_TRUE(waitForValue(view(), names, "\"..|Holiday 2026|Work\""));
    set("#computer-files .cf-new-name", "Work");
    click("#computer-files .cf-new");
    ASSERT_TRUE(waitForValue(view(), text("#computer-files .cf-status"), quoted("\xE2\x80\x9CWork\xE2\x80\x9D already exists.")));
}

// At the application's own window size, a long name stays in its cell and every row's and
// bar's buttons stay on their line, clear of the names.
TEST_F(DeviceFileActionsPage, NamesAndButtonsKeepApartAtTheDefaultWindowSize) {
    writeText(media + "/Notes/A rather long file name of a voice memo recorded on holiday.m4a", "audio");
    writeText(media + "/Notes/notes.txt", "text");
    writeText(media + "/Notes/IMG_20260704_183512_HDR_panorama_from_the_ridge_above_the_lake.jpeg", "jpeg");
    fs::create_directories(media + "/Notes/A folder with a long name for its photographs");
    ASSERT_TRUE(start());
    openNotes();
    ASSERT_TRUE(waitForValue(view(), "document.querySelectorAll('#device-files tr[data-name]').length", "4"));
    eval(view(), "App.computerFiles.open(" + quoted(computer) + "); true");
    ASSERT_TRUE(waitForValue(view(), "App.computerFiles.folder()", quoted(computer)));
    click("#device-files tr[data-name='notes.txt'] .files-name");
    // Each problem as text: a button whose words wrap, or one that overlaps a name or another.
    const std::string problems = R"JS((function () {
        var found = [];
        var inside = function (a, b) {
            return a.left < b.right - 1 && b.left < a.right - 1 && a.top < b.bottom - 1 && b.top < a.bottom - 1;
        };
        var buttons = Array.from(document.querySelectorAll('#device-files button, #copies button, #computer-files button, #devices button'))
            .filter(function (b) { return b.offsetParent; });
        // Words that wrap take more than one line box.
        var lines = function (node) {
            var range = document.createRange();
            range.selectNodeContents(node);
            var tops = {};
            Array.from(range.getClientRects()).forEach(function (r) { if (r.width > 0) tops[Math.round(r.top)] = true; });
            return Object.keys(tops).length;
        };
        buttons.forEach(function (b) { if (lines(b) > 1) found.push('wraps: ' + b.textContent); });
        // Nothing runs out of its section into the next.
        var within = function (node) {
            var section = node.closest('section').getBoundingClientRect();
            var box = node.getBoundingClientRect();
            return box.left >= section.left - 1 && box.right <= section.right + 1;
        };
        var names = Array.from(document.querySelectorAll('#device-files .files-name, #copies .copies-picked, #copies .copies-name, #computer-files .cf-name, #devices .device-name'))
            .filter(function (n) { return n.offsetParent; });
        buttons.concat(names).forEach(function (n) { if (!within(n)) found.push('outside its section: ' + n.textContent); });
        if (document.documentElement.scrollWidth > window.innerWidth) found.push('the page is wider than the window');
        buttons.forEach(function (b, i) {
            var box = b.getBoundingClientRect();
            names.forEach(function (n) {
                Array.from(n.getClientRects()).forEach(function (r) {
                    if (inside(box, r)) found.push(b.textContent + ' over ' + n.textContent);
                });
            });
            buttons.slice(i + 1).forEach(function (other) {
                if (inside(box, other.getBoundingClientRect())) found.push(b.textContent + ' over ' + other.textContent);
            });
        });
        return found.join('\n');
    })())JS";
    EXPECT_EQ(eval(view(), problems), "\"\"");
    EXPECT_EQ(eval(view(), "window.innerWidth <= 1100 && window.innerHeight <= 720"), "true");
    screenshot(view(), "default-window-size");
}

}  // namespace
