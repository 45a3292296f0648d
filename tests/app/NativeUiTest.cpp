#include <gtest/gtest.h>

#include <gtk/gtk.h>

#include <filesystem>
#include <fstream>

#include "NativeUiDriver.h"
#include "LogCapture.h"
#include "WebWindowFixture.h"
#include "foundation/ScratchFolder.h"

using apptest::WebWindowTest;
using apptest::Xclip;
using apptest::choose;
using apptest::itemTitled;
using apptest::shownChooser;
using apptest::shownMenu;
using foundation::Value;

namespace {

Value pasteboard(const char* cmd, const Value& data = foundation::Dictionary{}) {
    return Value::dict({{"event", "pasteboard"}, {"data", Value::dict({{"cmd", cmd}, {"data", data}})}});
}

TEST_F(WebWindowTest, ClipboardRoundTripWithAnotherProgram) {
    auto window = openWindow();
    auto& view = *window->webview();

    // Text out: another program pastes what the page copied.
    startCall(view, "write", "wvevent",
              pasteboard("write", Value::dict({{"type", "text"}, {"value", "/home/ü/a b.txt"}})));
    EXPECT_EQ(answer(view, "write"), Value::dict({{"result", true}}));
    {
        Xclip paste({"-o", "-selection", "clipboard"});
        paste.waitForExit();
        EXPECT_EQ(paste.output(), "/home/ü/a b.txt");
    }
    // Only text is written: another type, or text without a value, leaves the clipboard
    // as it was.
    const std::pair<Value, Value> refused[] = {
        {Value::dict({{"type", "html"}, {"value", "<b>x</b>"}}),
         Value::dict({{"result", false}, {"error", "not implement yet"}})},
        {Value::dict({{"value", "no type"}}),
         Value::dict({{"result", false}, {"error", "not implement yet"}})},
        {Value::dict({{"type", "text"}}),
         Value::dict({{"result", false}, {"error", "missing value field"}})},
    };
    for (const auto& [data, reply] : refused) {
        startCall(view, "refused", "wvevent", pasteboard("write", data));
        EXPECT_EQ(answer(view, "refused"), reply);
        Xclip paste({"-o", "-selection", "clipboard"});
        paste.waitForExit();
        EXPECT_EQ(paste.output(), "/home/ü/a b.txt") << foundation::json::write(data);
    }
    // Text is no file list.
    startCall(view, "read", "wvevent", pasteboard("read"));
    EXPECT_EQ(answer(view, "read"), Value::dict({{"result", false}}));

    // Files in: a URI list and the file manager's own list, copied by another program.
    foundationtest::ScratchFolder folder;
    const struct {
        const char* target;
        std::string contents;
    } copies[] = {
        {"text/uri-list", "# a comment\r\nfile:///tmp/a%20b.txt\r\nhttp://example.org/x\r\n"
                          "file:///tmp/%C3%BC\r\n"},
        {"x-special/gnome-copied-files", "copy\nfile:///tmp/a%20b.txt\nfile:///tmp/%C3%BC"},
    };
    for (const auto& copy : copies) {
        SCOPED_TRACE(copy.target);
        std::ofstream(folder / "copied") << copy.contents;
        Xclip owner({"-verbose", "-selection", "clipboard", "-t", copy.target, "-i",
                     folder / "copied"});
        ASSERT_TRUE(owner.waitForOutput("Waiting for selection requests"));
        {
            // Once another client sees the target offered, the X server has the new owner.
            Xclip probe({"-o", "-selection", "clipboard", "-t", "TARGETS"});
            probe.waitForExit();
            ASSERT_NE(probe.output().find(copy.target), std::string::npos) << probe.output();
        }
        startCall(view, "read", "wvevent", pasteboard("read"));
        EXPECT_EQ(answer(view, "read"),
                  Value::dict({{"result", true},
                               {"data", Value::list({"/tmp/a b.txt", "/tmp/ü"})}}));
        // Clearing takes the clipboard from the other program: it has nothing left to give.
        startCall(view, "clear", "wvevent", pasteboard("clear"));
        EXPECT_EQ(answer(view, "clear"), Value::dict({{"result", true}}));
        EXPECT_TRUE(owner.waitForExit());
        startCall(view, "read", "wvevent", pasteboard("read"));
        EXPECT_EQ(answer(view, "read"), Value::dict({{"result", false}}));
    }
}

TEST_F(WebWindowTest, PathDialogsAnsweredOkAndCancel) {
    auto window = openWindow();
    auto& view = *window->webview();
    foundationtest::ScratchFolder folder;
    std::ofstream(folder / "song.MP3") << "x";
    std::filesystem::create_directory(folder / "music");

    // An open panel for one file of any type: OK answers a list.
    startCall(view, "open", "dialog", Value::dict({{"cmd", "choose-file"}}));
    GtkFileChooser* chooser = shownChooser();
    ASSERT_TRUE(chooser);
    EXPECT_EQ(gtk_file_chooser_get_action(chooser), GTK_FILE_CHOOSER_ACTION_OPEN);
    EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(chooser)), window->window()->gtkWindow());
    EXPECT_EQ(gtk_file_chooser_list_filters(chooser), nullptr);
    choose(chooser, folder / "song.MP3");
    EXPECT_EQ(answer(view, "open"),
              Value::dict({{"result", true}, {"path", Value::list({folder / "song.MP3"})}}));

    // Cancelled: result false alone.
    startCall(view, "cancel", "dialog",
              Value::dict({{"cmd", "choose-file"}, {"caption", "Pick"}, {"prompt", "Take"}}));
    chooser = shownChooser();
    ASSERT_TRUE(chooser);
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(chooser)), "Pick");
    GtkWidget* accept = gtk_dialog_get_widget_for_response(GTK_DIALOG(chooser), GTK_RESPONSE_ACCEPT);
    ASSERT_TRUE(GTK_IS_BUTTON(accept));
    EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(accept)), "Take");
    gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_CANCEL);
    EXPECT_EQ(answer(view, "cancel"), Value::dict({{"result", false}}));

    // A folder, with an extension filter that matches either letter case.
    startCall(view, "folder", "dialog",
              Value::dict({{"cmd", "choose-file"}, {"folder", true}, {"multiple", 1},
                           {"newfolder", "yes"},
                           {"filter", Value::list({Value::dict({{"ext", "mp3"}})})}}));
    chooser = shownChooser();
    ASSERT_TRUE(chooser);
    EXPECT_EQ(gtk_file_chooser_get_action(chooser), GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER);
    EXPECT_TRUE(gtk_file_chooser_get_create_folders(chooser));
    EXPECT_TRUE(gtk_file_chooser_get_select_multiple(chooser));
    GSList* filters = gtk_file_chooser_list_filters(chooser);
    ASSERT_EQ(g_slist_length(filters), 1u);
    for (const char* name : {"a.mp3", "b.MP3", "c.Mp3"}) {
        GtkFileFilterInfo info{GTK_FILE_FILTER_DISPLAY_NAME, nullptr, nullptr, name, nullptr};
        EXPECT_TRUE(gtk_file_filter_filter(GTK_FILE_FILTER(filters->data), &info)) << name;
    }
    GtkFileFilterInfo other{GTK_FILE_FILTER_DISPLAY_NAME, nullptr, nullptr, "d.mp4", nullptr};
    EXPECT_FALSE(gtk_file_filter_filter(GTK_FILE_FILTER(filters->data), &other));
    g_slist_free(filters);
    choose(chooser, folder / "music");
    EXPECT_EQ(answer(view, "folder"),
              Value::dict({{"result", true}, {"path", Value::list({folder / "music"})}}));

    // A save panel offers the name and answers one path.
    startCall(view, "save", "dialog",
              Value::dict({{"cmd", "choose-file"}, {"save", "yes"}, {"filename", "out.m4r"}}));
    chooser = shownChooser();
    ASSERT_TRUE(chooser);
    EXPECT_EQ(gtk_file_chooser_get_action(chooser), GTK_FILE_CHOOSER_ACTION_SAVE);
    EXPECT_STREQ(gtk_file_chooser_get_current_name(chooser), "out.m4r");
    gtk_file_chooser_set_current_folder(chooser, folder.path().c_str());
    EXPECT_TRUE(testsupport::runMainLoopUntil([&] {
        gchar* chosen = gtk_file_chooser_get_filename(chooser);
        const bool there = chosen && folder / "out.m4r" == chosen;
        g_free(chosen);
        return there;
    }));
    gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_ACCEPT);
    EXPECT_EQ(answer(view, "save"), Value::dict({{"result", true}, {"path", folder / "out.m4r"}}));

    // A filter that is an empty list, or no list, leaves every type allowed; without
    // "newfolder" a folder panel makes no folders.
    for (const Value& filter : {Value(foundation::Array{}), Value("mp3"),
                                Value::dict({{"ext", "mp3"}})}) {
        SCOPED_TRACE(foundation::json::write(filter));
        startCall(view, "nofilter", "dialog",
                  Value::dict({{"cmd", "choose-file"}, {"folder", 1}, {"filter", filter}}));
        chooser = shownChooser();
        ASSERT_TRUE(chooser);
        EXPECT_EQ(gtk_file_chooser_list_filters(chooser), nullptr);
        EXPECT_FALSE(gtk_file_chooser_get_create_folders(chooser));
        gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_CANCEL);
        EXPECT_EQ(answer(view, "nofilter"), Value::dict({{"result", false}}));
    }

    // Requests refused before any panel shows; the command as the page gave it.
    const std::pair<Value, std::string> unknown[] = {
        {Value::dict({{"cmd", "choose-folder"}}), "unhandled command: choose-folder"},
        {Value(foundation::Dictionary{}), "unhandled command: (null)"},
        {Value::dict({{"cmd", 5}}), "unhandled command: 5"},
        {Value::dict({{"cmd", Value::null()}}), "unhandled command: <null>"},
    };
    for (const auto& [request, error] : unknown) {
        startCall(view, "unknown", "dialog", request);
        EXPECT_EQ(answer(view, "unknown"), Value::dict({{"result", false}, {"error", error}}));
    }
    startCall(view, "badfilter", "dialog",
              Value::dict({{"cmd", "choose-file"}, {"filter", Value::list({Value::dict({})})}}));
    EXPECT_EQ(answer(view, "badfilter")["error"].stringOr().rfind("CRITICAL Exception: ", 0), 0u);
}

const Value kMenu = Value::dict(
    {{"id", "file"},
     {"location", Value::dict({{"x", 40}, {"y", "30"}})},
     {"items",
      Value::list({Value::dict({{"title", "Copy path"}, {"tag", 1}, {"id", "copy"}, {"key", "c"}}),
                   Value::dict({{"title", "-"}}),
                   Value::dict({{"title", "More"},
                                {"items", Value::list({Value::dict({{"title", "Show log"},
                                                                    {"tag", 7},
                                                                    {"id", "log"}}),
                                                       Value::dict({{"title", "Plain"}})})}})})}});

TEST_F(WebWindowTest, ContextMenusAnswerTheirOwnRequestOnce) {
    auto first = openWindow({0, 0, 400, 300});
    auto second = openWindow({450, 0, 400, 300});

    // A nested choice answers its tag and id, in the window that asked only.
    apptest::LogCapture log;
    startCall(*first->webview(), "menu", "contextmenu", kMenu);
    GtkMenuShell* menu = shownMenu();
    ASSERT_TRUE(menu);
    EXPECT_TRUE(log.has("view flipped: Yes"));
    GtkWidget* more = itemTitled(menu, "More");
    ASSERT_TRUE(more);
    GtkMenuShell* submenu = GTK_MENU_SHELL(gtk_menu_item_get_submenu(GTK_MENU_ITEM(more)));
    gtk_menu_shell_activate_item(submenu, itemTitled(submenu, "Show log"), TRUE);
    EXPECT_EQ(answer(*first->webview(), "menu"), Value::dict({{"tag", 7}, {"id", "log"}}));
    EXPECT_EQ(eval(*second->webview(), "window.answers || 0"), "0");

    // Escape dismisses: an empty answer.
    startCall(*second->webview(), "escape", "contextmenu", kMenu);
    menu = shownMenu();
    ASSERT_TRUE(menu);
    // The key's binding, as the menu's key handler runs it.
    EXPECT_TRUE(gtk_bindings_activate(G_OBJECT(menu), GDK_KEY_Escape, GdkModifierType(0)));
    EXPECT_EQ(answer(*second->webview(), "escape"), foundation::Value(foundation::Dictionary{}));

    // A description with nothing to choose is answered at once, and only once.
    startCall(*first->webview(), "empty", "contextmenu",
              Value::dict({{"items", Value::list({Value::dict({{"title", "x"}, {"visible", false}}),
                                                  Value::dict({{"title", "-"}})})}}));
    EXPECT_EQ(answer(*first->webview(), "empty"), foundation::Value(foundation::Dictionary{}));
    EXPECT_TRUE(log.has("[WARN] no items for menu: (null)"));  // the description had no id

    // A description without entries is warned about and never answered.
    startCall(*first->webview(), "none", "contextmenu",
              Value::dict({{"id", "bare"}, {"items", foundation::Array{}}}));
    startCall(*second->webview(), "missing", "contextmenu", Value::dict({{"id", "gone"}}));
    EXPECT_TRUE(testsupport::runMainLoopUntil([&] {
        return log.has("[WARN] no items for menu: bare") && log.has("[WARN] no items for menu: gone");
    }));
    testsupport::drainMainLoop();
    EXPECT_EQ(eval(*first->webview(), "'none' in window.replies"), "false");
    EXPECT_EQ(eval(*second->webview(), "'missing' in window.replies"), "false");
    EXPECT_EQ(eval(*first->webview(), "window.answers"), "2");
    EXPECT_EQ(eval(*second->webview(), "window.answers"), "1");
}

}  // namespace
