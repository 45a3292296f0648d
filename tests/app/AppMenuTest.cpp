#include <gtest/gtest.h>

#include <gtk/gtk.h>

#include <filesystem>
#include <set>

#include "DialogAnswerer.h"
#include "WebWindowFixture.h"
#include "foundation/ScratchFolder.h"
#include "foundation/Unprivileged.h"
#include "LogCapture.h"
#include "platform/gtk/MenuBar.h"
#include "platform/music/LibraryAccess.h"
#include "shell/AppMenu.h"
#include "shell/KolvexAppDelegate.h"

using apptest::DialogAnswerer;
using apptest::WebWindowTest;

namespace {

constexpr int kFirst = gtk::Alert::kFirstButton;

// The running application's main window with its menu and its page, whose events list
// shows every "menu-action" it hears.
class AppMenuTest : public WebWindowTest {
protected:
    void start() {
        window = std::make_shared<gtk::Window>(gtk::Rect{0, 0, 600, 400},
                                               gtk::Titled | gtk::Closable | gtk::Resizable);
        delegate = std::make_unique<KolvexAppDelegate>(window, services,
                                                       std::vector<std::string>{"orvandel"});
        delegate->awakeFromNib();
        window->show();
        view = delegate->windowController()->webview().get();
        apptest::recordPushes(*view, {"menu-action"});
        waitForValue(*view, "document.documentElement.dataset.bridge", "\"ready\"");
    }

    // The data of each "menu-action" the page heard, from the `from`th on, as JSON.
    std::string menus(int from = 0) {
        return eval(*view, "window.heardPushes.slice(" + std::to_string(from) +
                               ").map(function (t) { return t.slice(12); }).join('|')");
    }

    bool waitForMenus(const std::string& expected, int from = 0) {
        const bool reached =
            testsupport::runMainLoopUntil([&] { return menus(from) == expected; });
        EXPECT_TRUE(reached) << menus(from);
        return reached;
    }

    // Chooses the item as a click does: through its action in the window's menu group.
    void choose(const char* itemId) {
        GActionGroup* group = gtk_widget_get_action_group(GTK_WIDGET(window->gtkWindow()),
                                                          gtk::MenuBar::kActionGroup);
        ASSERT_NE(group, nullptr);
        ASSERT_TRUE(g_action_group_has_action(group, itemId)) << itemId;
        g_action_group_activate_action(group, itemId, nullptr);
    }

    // The menu bar as a person sees it: each menu's title, its items' titles in brackets.
    std::string menuTitles() {
        GtkWidget* bar = nullptr;
        findMenuBar(GTK_WIDGET(window->gtkWindow()), &bar);
        if (!bar) return "no menu bar";
        std::string titles;
        GList* menus = gtk_container_get_children(GTK_CONTAINER(bar));
        for (GList* m = menus; m; m = m->next) {
            GtkMenuItem* menu = GTK_MENU_ITEM(m->data);
            if (!titles.empty()) titles += ' ';
            titles += gtk_menu_item_get_label(menu);
            titles += '[';
            GtkWidget* submenu = gtk_menu_item_get_submenu(menu);
            GList* items = submenu ? gtk_container_get_children(GTK_CONTAINER(submenu)) : nullptr;
            for (GList* i = items; i; i = i->next) {
                if (i != items) titles += '|';
                titles += gtk_menu_item_get_label(GTK_MENU_ITEM(i->data));
            }
            g_list_free(items);
            titles += ']';
        }
        g_list_free(menus);
        return titles;
    }
    static void findMenuBar(GtkWidget* widget, GtkWidget** found) {
        if (*found) return;
        if (GTK_IS_MENU_BAR(widget)) {
            *found = widget;
            return;
        }
        if (GTK_IS_CONTAINER(widget))
            gtk_container_forall(
                GTK_CONTAINER(widget),
                [](GtkWidget* child, gpointer data) {
                    findMenuBar(child, static_cast<GtkWidget**>(data));
                },
                found);
    }

    AppServices services;
    std::shared_ptr<gtk::Window> window;
    std::unique_ptr<KolvexAppDelegate> delegate;
    webkit::WebView* view = nullptr;
    apptest::LogCapture log;
};

TEST_F(AppMenuTest, EveryMenuActionReachesThePage) {
    // The application keeps to the light look whatever the desktop prefers.
    g_object_set(gtk_settings_get_default(), "gtk-application-prefer-dark-theme", TRUE, nullptr);
    start();
    gboolean dark = TRUE;
    g_object_get(gtk_settings_get_default(), "gtk-application-prefer-dark-theme", &dark, nullptr);
    EXPECT_FALSE(dark);

    // Only items that do something are offered: no preferences, diagnose or help.
    GActionGroup* group = gtk_widget_get_action_group(GTK_WIDGET(window->gtkWindow()),
                                                      gtk::MenuBar::kActionGroup);
    ASSERT_NE(group, nullptr);
    gchar** actions = g_action_group_list_actions(group);
    std::set<std::string> offered(actions, actions + g_strv_length(actions));
    g_strfreev(actions);
    EXPECT_EQ(offered, (std::set<std::string>{"quit", "check-authorize", "alert-authorize"}));
    EXPECT_EQ(menuTitles(), "Orvandel[Quit Orvandel] Library[Check Music Library Access|How to "
                            "Allow Music Library Access]");

    for (int shown = 0; shown < 2; ++shown) {
        DialogAnswerer ok(kFirst);
        choose(AppMenu::kAlertAuthorize);
        EXPECT_TRUE(ok.answered());
    }
    waitForMenus(foundation::json::write(foundation::Value(
        R"({"id":"alert-authorize","tag":4,"title":"How to Allow Music Library Access"}|)"
        R"({"id":"alert-authorize","tag":4,"title":"How to Allow Music Library Access"})")));

    // An item without identifier, title or tag; a notice without an item pushes nothing.
    auto& center = foundation::NotificationCenter::defaultCenter();
    center.post(kMenuDidSendActionNotification);
    center.post(kMenuDidSendActionNotification, nullptr,
                {{"MenuItem", foundation::Value(foundation::Dictionary{})}});
    waitForMenus(foundation::json::write(foundation::Value(R"({"id":"","tag":0,"title":""})")), 2);

    // Quit asks first, as closing the window does.
    DialogAnswerer no(kFirst);
    choose(AppMenu::kQuit);
    EXPECT_TRUE(testsupport::runMainLoopUntil([&] { return no.answered(); }));
    EXPECT_NE(no.texts().find("Do you want to quit Orvandel?"), std::string::npos);
    waitForMenus(foundation::json::write(
                     foundation::Value(R"({"id":"quit","tag":2,"title":"Quit Orvandel"})")),
                 3);
    EXPECT_FALSE(window->isClosed());
    apptest::WebWindowTest::screenshot(*view, "menu-actions");
}

TEST_F(AppMenuTest, AMusicLibraryThatCannotBeWrittenShowsHowToAllowIt) {
    foundationtest::ScratchFolder scratch;
    const std::string folder = scratch / "Music";
    std::filesystem::create_directories(folder);
    for (const std::string& owned : {scratch.path(), folder})
        foundationtest::giveToCheckingUser(owned);
    chmod(scratch.path().c_str(), 0755);
    chmod(folder.c_str(), 0555);
    services.mayAccessMusicLibrary = [&] {
        return foundationtest::withoutPrivileges([&] {
            return music::canReadAndWrite({folder, scratch / "index.sqlite", {}});
        });
    };
    start();

    DialogAnswerer answer(kFirst);
    choose(AppMenu::kCheckAuthorize);
    EXPECT_TRUE(answer.answered());
    EXPECT_NE(answer.texts().find(KolvexAppDelegate::authorizeMessage(true)), std::string::npos)
        << answer.texts();
    EXPECT_NE(answer.texts().find("Please give the access to Music library following these "
                                  "steps:\n1) Open System Preferences\n2) Click \"Security & "
                                  "Privacy\"\n"),
              std::string::npos);
    EXPECT_TRUE(log.has("We need privilege to access music library"));
    waitForMenus(foundation::json::write(foundation::Value(
        R"({"id":"check-authorize","tag":3,"title":"Check Music Library Access"})")));

    // Writable again: nothing to show.
    chmod(folder.c_str(), 0755);
    {
        DialogAnswerer none(kFirst);
        delegate->OnCheckAuthorize();
        EXPECT_FALSE(none.answered());
    }

    // The instructions from another thread wait for the main thread to show them.
    DialogAnswerer later(kFirst);
    onOtherThread([&] { delegate->alertForAuthorize(); });
    EXPECT_TRUE(later.answered());
    EXPECT_NE(KolvexAppDelegate::authorizeMessage(false).find("the checkbox for \"iTunes\""),
              std::string::npos);
}

}  // namespace
