#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

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

class TextViewPage : public WebWindowTest {
protected:
    std::string quoted(const std::string& text) { return foundation::json::write(Value(text)); }
    void click(webkit::WebView& view, const std::string& selector) {
        eval(view, "document.querySelector(" + quoted(selector) + ").click(); true");
    }
    // Saves what the text view of `box` holds, with `added` put at its end.
    bool saveWith(webkit::WebView& view, const std::string& box, const std::string& added) {
        eval(view, "var a = document.querySelector(" + quoted(box + " .text-area") + "); a.value += " +
                       quoted(added) + "; true");
        click(view, box + " .text-save");
        return waitForValue(view, "document.querySelector(" + quoted(box) + ").dataset.state", "\"saved\"");
    }
};

// A text file on the simulated phone opened in the device-files section's text view and
// saved: unchanged it comes back byte for byte (UTF-8, CRLF line ends), an added line keeps
// the file's line ends, and no saved copy is left beside it. A name already taken is
// refused before a new folder or a rename is tried.
TEST_F(TextViewPage, DeviceTextFilesRoundTripAndTakenNamesAreRefused) {
    foundationtest::ScratchFolder scratch;
    const std::string media = scratch / "media";
    fs::create_directories(media + "/Notes/Old");
    const std::string original = "Einkauf: K\xC3\xA4se\r\nBrot \xE2\x82\xAC 2\r\n";
    writeText(media + "/Notes/todo.txt", original);
    apptest::SimulatedPhoneApp app(scratch.path());
    ASSERT_TRUE(app.start());
    auto& view = app.view();
    app.attachPhone(media);

    const std::string rows =
        "Array.from(document.querySelectorAll('#device-files .files-list tr[data-name]'))"
        ".map(r => r.dataset.name).join('|')";
    ASSERT_TRUE(waitForValue(view, rows, "\"Notes\""));
    click(view, "#device-files tr[data-name='Notes']");
    ASSERT_TRUE(waitForValue(view, rows, "\"Old|todo.txt\""));
    click(view, "#device-files tr[data-name='todo.txt'] button");
    ASSERT_TRUE(waitForValue(view, "document.querySelector('#device-files .files-viewer').dataset.state", "\"open\""));
    EXPECT_EQ(eval(view, "document.querySelector('#device-files .text-area').value"),
              quoted("Einkauf: K\xC3\xA4se\nBrot \xE2\x82\xAC 2\n"));
    ASSERT_TRUE(saveWith(view, "#device-files .files-viewer", ""));
    EXPECT_TRUE(contentsOf(media + "/Notes/todo.txt") == original);
    const std::string sizeShown = "document.querySelector(\"#device-files tr[data-name='todo.txt'] .files-size\").textContent";
    EXPECT_EQ(eval(view, sizeShown), "\"28 bytes\"");
    ASSERT_TRUE(saveWith(view, "#device-files .files-viewer", "Milch\n"));
    EXPECT_TRUE(contentsOf(media + "/Notes/todo.txt") == original + "Milch\r\n");
    // The list shows the saved file's size without another upload to refresh it.
    EXPECT_TRUE(waitForValue(view, sizeShown, "\"35 bytes\""));
    screenshot(view, "device-text-view");
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(media + "/Notes")) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Old", "todo.txt"}));

    // Taken names are refused with a plain sentence and change nothing.
    const std::string message = "(document.querySelector('#device-files .files-message .error') || {}).textContent";
    eval(view, "document.querySelector('#device-files .files-new-name').value = 'todo.txt'; true");
    click(view, "#device-files .files-bar button:last-child");
    ASSERT_TRUE(waitForValue(view, message, quoted("\xE2\x80\x9Ctodo.txt\xE2\x80\x9D already exists.")));
    click(view, "#device-files tr[data-name='Old'] .files-actions button");
    eval(view, "document.querySelector('#device-files .files-rename').value = 'todo.txt'; true");
    // The first refusal's words go first, so that only the rename's own answer shows them.
    eval(view, "document.querySelector('#device-files .files-message').replaceChildren(); true");
    click(view, "#device-files tr[data-name='Old'] .files-name button");
    ASSERT_TRUE(waitForValue(view, "document.querySelectorAll('#device-files .files-message .error').length", "1"));
    EXPECT_TRUE(fs::is_directory(media + "/Notes/Old"));
    EXPECT_TRUE(contentsOf(media + "/Notes/todo.txt") == original + "Milch\r\n");
}

// The computer-files section's text view over "fs": the same round trip on a computer file.
TEST_F(TextViewPage, ComputerTextFilesRoundTrip) {
    foundationtest::ScratchFolder scratch;
    const std::string folder = scratch / "pc";
    fs::create_directories(folder);
    const std::string original = "# Notes\n\nline \xE2\x9C\x93\n";
    writeText(folder + "/readme.md", original);
    writeText(folder + "/picture.bin", std::string("\xFF\xD8\xFF\x00", 4));
    apptest::SimulatedPhoneApp app(scratch.path());
    ASSERT_TRUE(app.start());
    auto& view = app.view();

    // The section opens the home folder first.
    ASSERT_TRUE(waitForValue(view, "App.computerFiles.folder() !== ''", "true"));
    eval(view, "App.computerFiles.open(" + quoted(folder) + "); true");
    ASSERT_TRUE(waitForValue(view, "App.computerFiles.folder()", quoted(folder)));
    click(view, "#computer-files li[data-path=" + quoted(folder + "/readme.md") + "]");
    click(view, "#computer-files .cf-edit");
    ASSERT_TRUE(waitForValue(view, "document.querySelector('#computer-files .cf-viewer').dataset.state", "\"open\""));
    ASSERT_TRUE(saveWith(view, "#computer-files .cf-viewer", ""));
    EXPECT_TRUE(contentsOf(folder + "/readme.md") == original);
    ASSERT_TRUE(saveWith(view, "#computer-files .cf-viewer", "more\n"));
    EXPECT_TRUE(contentsOf(folder + "/readme.md") == original + "more\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 2);
    screenshot(view, "computer-text-view");

    // Bytes that are no text are not opened for editing.
    click(view, "#computer-files li[data-path=" + quoted(folder + "/picture.bin") + "]");
    click(view, "#computer-files .cf-edit");
    ASSERT_TRUE(waitForValue(view, "document.querySelector('#computer-files .text-status').textContent",
                             "\"The file is not plain text and is not opened here.\""));
    EXPECT_EQ(eval(view, "document.querySelector('#computer-files .text-area').disabled"), "true");

    // A file far too large is refused in words, without being read whole.
    std::ofstream(folder + "/huge.log").close();
    fs::resize_file(folder + "/huge.log", std::uintmax_t(300) << 20);
    eval(view, "App.computerFiles.open(" + quoted(folder) + "); true");
    ASSERT_TRUE(waitForValue(view, "!!document.querySelector(" + quoted("#computer-files li[data-path=" + quoted(folder + "/huge.log") + "]") + ")", "true"));
    click(view, "#computer-files li[data-path=" + quoted(folder + "/huge.log") + "]");
    click(view, "#computer-files .cf-edit");
    ASSERT_TRUE(waitForValue(view, "document.querySelector('#computer-files .text-status').textContent",
                             "\"The file is too large to open as text.\""));
}

}  // namespace
