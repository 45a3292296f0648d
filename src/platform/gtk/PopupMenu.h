#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

typedef struct _GtkWidget GtkWidget;

namespace gtk {

// A pop-up menu built from a description, over GtkMenu. Main thread only.
class PopupMenu {
public:
    struct Item {
        std::string title;
        bool separator = false;
        bool enabled = true;
        bool checked = false;
        std::string tooltip;
        // The key shown beside the title and its modifiers (GdkModifierType bits).
        std::string key;
        unsigned keyModifiers = 0;
        std::int64_t tag = 0;
        std::string id;
        bool hasSubmenu = false;
        std::vector<Item> items;  // the submenu's entries
    };

    // The chosen item, or null when the menu was dismissed.
    using Completion = std::function<void(const Item* chosen)>;

    // Shows the menu with its first item at (x, y) of the widget, top-left origin, and
    // returns at once; `done` is called exactly once when the menu closes. Returns the
    // menu while it is shown.
    static GtkWidget* popup(GtkWidget* widget, int x, int y, std::vector<Item> items,
                            Completion done);
};

}  // namespace gtk
