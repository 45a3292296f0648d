#include "platform/gtk/MenuBar.h"

#include <gtk/gtk.h>

#include "platform/gtk/Window.h"

namespace gtk {
namespace {

struct Entry {
    MenuBar::Item item;
    std::function<void(const MenuBar::Item&)> activated;
};

}  // namespace

void MenuBar::install(Window& window, std::vector<Menu> menus,
                      std::function<void(const Item&)> activated) {
    GSimpleActionGroup* actions = g_simple_action_group_new();
    GMenu* bar = g_menu_new();
    for (const auto& menu : menus) {
        GMenu* submenu = g_menu_new();
        for (const auto& item : menu.items) {
            GSimpleAction* action = g_simple_action_new(item.id.c_str(), nullptr);
            g_signal_connect_data(
                action, "activate", G_CALLBACK(+[](GSimpleAction*, GVariant*, gpointer data) {
                    auto* entry = static_cast<Entry*>(data);
                    if (entry->activated) entry->activated(entry->item);
                }),
                new Entry{item, activated},
                [](gpointer data, GClosure*) { delete static_cast<Entry*>(data); },
                GConnectFlags(0));
            g_action_map_add_action(G_ACTION_MAP(actions), G_ACTION(action));
            g_object_unref(action);
            const std::string detailed = std::string(kActionGroup) + "." + item.id;
            g_menu_append(submenu, item.title.c_str(), detailed.c_str());
        }
        g_menu_append_submenu(bar, menu.title.c_str(), G_MENU_MODEL(submenu));
        g_object_unref(submenu);
    }
    gtk_widget_insert_action_group(GTK_WIDGET(window.gtkWindow()), kActionGroup,
                                   G_ACTION_GROUP(actions));
    g_object_unref(actions);
    window.setMenuBar(gtk_menu_bar_new_from_model(G_MENU_MODEL(bar)));
    g_object_unref(bar);
}

}  // namespace gtk
