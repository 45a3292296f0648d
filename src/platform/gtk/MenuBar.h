#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace gtk {

class Window;

// A window's menu bar over a GMenu model: every item is an action of the window's "menu"
// action group, named by the item's identifier, so that a click and an activation of the
// action are one and the same. Main thread only.
class MenuBar {
public:
    struct Item {
        std::string id;  // also the action's name: letters, digits, '-' and '.'
        std::string title;
        std::int64_t tag = 0;
    };
    struct Menu {
        std::string title;
        std::vector<Item> items;
    };
    static constexpr const char* kActionGroup = "menu";

    // Shows the menus above the window's content; `activated` gets each item chosen.
    static void install(Window& window, std::vector<Menu> menus,
                        std::function<void(const Item&)> activated);
};

}  // namespace gtk
