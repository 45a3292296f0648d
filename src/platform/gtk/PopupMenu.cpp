#include "platform/gtk/PopupMenu.h"

#include <gtk/gtk.h>

#include <memory>

namespace gtk {
namespace {

// One shown menu: its description, the item chosen so far and the completion.
struct Shown {
    std::vector<PopupMenu::Item> items;
    PopupMenu::Completion done;
    const PopupMenu::Item* chosen = nullptr;
    GtkWidget* menu = nullptr;

    // The menu is dropped after the main loop has finished with its signal.
    void finish() {
        auto told = std::move(done);
        done = nullptr;
        if (!told) return;
        told(chosen);
        if (menu) {
            GtkWidget* closing = menu;
            menu = nullptr;
            gtk_widget_hide(closing);  // also when only a submenu was closed
            g_idle_add(
                +[](gpointer widget) -> gboolean {
                    gtk_widget_destroy(GTK_WIDGET(widget));
                    g_object_unref(widget);
                    return G_SOURCE_REMOVE;
                },
                closing);
        }
    }
};

using ShownRef = std::shared_ptr<Shown>;

void connect(gpointer instance, const char* signal, GCallback callback, const ShownRef& shown) {
    g_signal_connect_data(instance, signal, callback, new ShownRef(shown),
                          +[](gpointer data, GClosure*) { delete static_cast<ShownRef*>(data); },
                          GConnectFlags(0));
}

void fill(GtkWidget* menu, const std::vector<PopupMenu::Item>& items, const ShownRef& shown) {
    // A choice is settled when its menu says the selection is done; every menu of the
    // tree says so, since a submenu may be activated on its own.
    connect(menu, "selection-done", G_CALLBACK(+[](GtkMenuShell*, gpointer data) {
                (*static_cast<ShownRef*>(data))->finish();
            }),
            shown);
    for (const auto& item : items) {
        GtkWidget* widget;
        if (item.separator) {
            widget = gtk_separator_menu_item_new();
        } else {
            widget = item.checked ? gtk_check_menu_item_new_with_label(item.title.c_str())
                                  : gtk_menu_item_new_with_label(item.title.c_str());
            if (item.checked) gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(widget), TRUE);
            gtk_widget_set_sensitive(widget, item.enabled);
            if (!item.tooltip.empty()) gtk_widget_set_tooltip_text(widget, item.tooltip.c_str());
            if (!item.key.empty()) {
                const guint keyval =
                    gdk_unicode_to_keyval(g_utf8_get_char_validated(item.key.c_str(), -1));
                GtkWidget* label = gtk_bin_get_child(GTK_BIN(widget));
                if (GTK_IS_ACCEL_LABEL(label))
                    gtk_accel_label_set_accel(GTK_ACCEL_LABEL(label), keyval,
                                              GdkModifierType(item.keyModifiers));
            }
            if (item.hasSubmenu) {
                GtkWidget* submenu = gtk_menu_new();
                fill(submenu, item.items, shown);
                gtk_menu_item_set_submenu(GTK_MENU_ITEM(widget), submenu);
            } else {
                const PopupMenu::Item* described = &item;
                g_object_set_data(G_OBJECT(widget), "orvandel-item",
                                  const_cast<PopupMenu::Item*>(described));
                connect(widget, "activate", G_CALLBACK(+[](GtkMenuItem* activated, gpointer data) {
                            auto& s = **static_cast<ShownRef*>(data);
                            s.chosen = static_cast<const PopupMenu::Item*>(
                                g_object_get_data(G_OBJECT(activated), "orvandel-item"));
                        }),
                        shown);
            }
        }
        gtk_widget_show(widget);
        gtk_menu_shell_append(GTK_MENU_SHELL(menu), widget);
    }
}

}  // namespace

GtkWidget* PopupMenu::popup(GtkWidget* widget, int x, int y, std::vector<Item> items,
                            Completion done) {
    auto shown = std::make_shared<Shown>();
    shown->items = std::move(items);
    shown->done = std::move(done);
    GtkWidget* menu = gtk_menu_new();
    g_object_ref_sink(menu);
    shown->menu = menu;
    fill(menu, shown->items, shown);
    // A menu that closes without a selection-done (its grab failed, or it went away) is
    // settled once the signals of its closing have run.
    connect(menu, "deactivate", G_CALLBACK(+[](GtkMenuShell*, gpointer data) {
                g_idle_add_full(
                    G_PRIORITY_DEFAULT_IDLE,
                    +[](gpointer pending) -> gboolean {
                        (*static_cast<ShownRef*>(pending))->finish();
                        return G_SOURCE_REMOVE;
                    },
                    new ShownRef(*static_cast<ShownRef*>(data)),
                    +[](gpointer pending) { delete static_cast<ShownRef*>(pending); });
            }),
            shown);
    connect(menu, "destroy", G_CALLBACK(+[](GtkWidget*, gpointer data) {
                auto& s = **static_cast<ShownRef*>(data);
                s.menu = nullptr;
                s.finish();
            }),
            shown);

    gtk_menu_attach_to_widget(GTK_MENU(menu), widget, nullptr);
    GdkWindow* window = gtk_widget_get_window(widget);
    if (!window || !gtk_widget_get_realized(widget)) {
        shown->finish();  // nothing to show it on: dismissed
        return nullptr;
    }
    // The point is the widget's; the menu is placed in the window the widget draws into.
    GdkRectangle at{x, y, 1, 1};
    if (!gtk_widget_get_has_window(widget)) {
        GtkAllocation allocation;
        gtk_widget_get_allocation(widget, &allocation);
        at.x += allocation.x;
        at.y += allocation.y;
    }
    gtk_menu_popup_at_rect(GTK_MENU(menu), window, &at, GDK_GRAVITY_NORTH_WEST,
                           GDK_GRAVITY_NORTH_WEST, nullptr);
    return menu;
}

}  // namespace gtk
