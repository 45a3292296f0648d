#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "WebWindowFixture.h"
#include "foundation/ScopedEnvironment.h"
#include "foundation/ScratchFolder.h"
#include "shell/KolvexAppDelegate.h"

using apptest::WebWindowTest;

namespace {

// The start page's computer files, in the real page from web/ over the running
// application's native side, in a home folder of the test's own.
TEST_F(WebWindowTest, ComputerFilesBrowseFromTheCommonFolders) {
    foundationtest::ScratchFolder home;
    foundationtest::ScopedEnvironment environment;
    environment.set("HOME", home.path());
    for (const char* name :
         {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_MUSIC_DIR", "XDG_DOWNLOAD_DIR",
          "XDG_DOCUMENTS_DIR", "XDG_PICTURES_DIR", "XDG_DESKTOP_DIR", "XDG_PUBLICSHARE_DIR"}) {
        environment.unset(name);
    }
    std::filesystem::create_directories(home / "Music/Album");
    std::ofstream(home / "Music/Album/song.m4a") << "audio";
    std::ofstream(home / "notes.txt") << "text";

    auto window = std::make_shared<gtk::Window>(gtk::Rect{0, 0, 1100, 720},
                                                gtk::Titled | gtk::Closable | gtk::Resizable);
    KolvexAppDelegate delegate(window, AppServices{}, {"orvandel"});
    delegate.awakeFromNib();
    window->show();
    auto view = delegate.windowController()->webview();

    const std::string names =
        "Array.prototype.map.call(document.querySelectorAll('#computer-files .cf-name'), "
        "function (n) { return n.textContent; }).join('|')";
    // The home folder opens first, folders before files; the person's common folders that
    // were missing are made once the page asks for them.
    ASSERT_TRUE(waitForValue(*view, names,
                             "\"..|.cache|.local|Desktop|Documents|Downloads|Music|Pictures|Public|notes.txt\""));
    EXPECT_TRUE(std::filesystem::is_directory(home / "Downloads"));
    eval(*view, "document.querySelector('.cf-places [data-key=downloadPath]').click(); 0");
    ASSERT_TRUE(waitForValue(*view, "document.querySelector('.cf-status').textContent", "\"0 items\""));
    EXPECT_EQ(eval(*view, "document.querySelectorAll('.cf-places button').length"), "10");

    eval(*view, "document.querySelector('.cf-places [data-key=musicPath]').click(); 0");
    ASSERT_TRUE(waitForValue(*view, names, "\"..|Album\""));
    eval(*view, "document.querySelectorAll('#computer-files .cf-folder')[1].click(); 0");
    ASSERT_TRUE(waitForValue(*view, names, "\"..|song.m4a\""));
    eval(*view, "document.querySelectorAll('#computer-files .cf-file')[0].click(); 0");
    EXPECT_EQ(eval(*view, "App.computerFiles.selected()"),
              "\"" + home / "Music/Album/song.m4a" + "\"");

    eval(*view, "document.querySelector('.cf-new').click(); 0");
    ASSERT_TRUE(waitForValue(*view, names, "\"..|New Folder|song.m4a\""));
    EXPECT_TRUE(std::filesystem::is_directory(home / "Music/Album/New Folder"));
    screenshot(*view, "computer-files");

    // A folder that is not there is reported on the page.
    eval(*view,
         "document.querySelector('.cf-path').value = '/no/such/folder';"
         "document.querySelector('.cf-bar button').click(); 0");
    EXPECT_TRUE(waitForValue(*view, "document.querySelector('.cf-status').textContent",
                             "\"The folder \\\"/no/such/folder\\\" could not be listed: No such "
                             "file or directory\""));
}

}  // namespace
