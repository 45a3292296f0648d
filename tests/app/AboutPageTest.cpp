#include <gtest/gtest.h>

#include <gtk/gtk.h>

#include <filesystem>
#include <fstream>

#include "NativeUiDriver.h"
#include "WebWindowFixture.h"
#include "foundation/ScopedEnvironment.h"
#include "foundation/ScratchFolder.h"
#include "logging/LgLogFileManagerDefault.h"
#include "shell/KolvexAppDelegate.h"

using apptest::WebWindowTest;

namespace {

// The About section of the real page, over the running application's native side.
TEST_F(WebWindowTest, AboutSectionShowsTheAppTheComputerAndTheLog) {
    foundationtest::ScratchFolder state, picked;
    foundationtest::ScopedEnvironment environment;
    environment.set("XDG_STATE_HOME", state.path());
    const std::string logs = LgLogFileManagerDefault::defaultLogsDirectory();
    std::filesystem::create_directories(logs);
    std::ofstream(logs + "/" + LgLogFileManagerDefault::applicationName() +
                  " 2026-12-07--09-00-00-000.log")
        << "2026/12/07 09:00:00:000  [WARN] first line\n"
           "2026/12/07 09:00:01:000  [ERROR] second line\n";

    auto window = std::make_shared<gtk::Window>(gtk::Rect{0, 0, 1000, 760},
                                                gtk::Titled | gtk::Closable | gtk::Resizable);
    KolvexAppDelegate delegate(window, {}, {"orvandel"});
    delegate.awakeFromNib();
    window->show();
    auto& view = *delegate.windowController()->webview();
    ASSERT_TRUE(waitForValue(view, "!!document.querySelector('#about table')", "true"));
    const std::string facts = eval(view, "document.querySelector('#about table').innerText");
    for (const char* shown : {"Orvandel", "com.orvandel.Orvandel", "Processor", "GiB"})
        EXPECT_NE(facts.find(shown), std::string::npos) << shown << " not in " << facts;
    waitForValue(view, "document.querySelector('[data-part=log]').textContent",
                 "\"2026/12/07 09:00:00:000  [WARN] first line\\n"
                 "2026/12/07 09:00:01:000  [ERROR] second line\"");

    // A computer folder through the native panel.
    eval(view, "document.querySelector('#about').scrollIntoView(); "
               "document.querySelector('[data-part=choose]').click(); 0");
    GtkFileChooser* chooser = apptest::shownChooser();
    ASSERT_TRUE(chooser);
    EXPECT_EQ(gtk_file_chooser_get_action(chooser), GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER);
    apptest::choose(chooser, picked.path());
    ASSERT_TRUE(waitForValue(view, "document.querySelector('#about .file-entry') ? "
                                   "document.querySelector('#about .file-entry').textContent : ''",
                             foundation::json::write(picked.path())));

    // Its file-entry menu copies the path to the clipboard, for another program to paste.
    eval(view, "var e = document.querySelector('#about .file-entry'); "
               "var r = e.getBoundingClientRect(); e.dispatchEvent(new MouseEvent('contextmenu', "
               "{bubbles: true, cancelable: true, clientX: r.left + 8, clientY: r.top + 8})); 0");
    GtkMenuShell* menu = apptest::shownMenu();
    ASSERT_TRUE(menu);
    EXPECT_TRUE(testsupport::runMainLoopUntil([&] { return gtk_widget_get_mapped(GTK_WIDGET(menu)); }));
    testsupport::drainMainLoop();
    apptest::screenshot("about-menu.png");
    gtk_menu_shell_activate_item(menu, apptest::itemTitled(menu, "Copy path"), TRUE);
    std::string pasted;
    ASSERT_TRUE(testsupport::runMainLoopUntil([&] {
        apptest::Xclip paste({"-o", "-selection", "clipboard"});
        paste.waitForExit();
        pasted = paste.output();
        return pasted == picked.path();
    })) << pasted;
    apptest::screenshot("about.png");
}

}  // namespace
