#pragma once

#include <functional>
#include <string>

namespace gtk {
class Window;
}

// The application menu of the main window. Choosing an item runs its action, then posts
// kMenuDidSendActionNotification with the item, as every menu action is announced.
namespace AppMenu {

// The items' identifiers, also their actions' names.
inline constexpr const char* kQuit = "quit";
inline constexpr const char* kCheckAuthorize = "check-authorize";
inline constexpr const char* kAlertAuthorize = "alert-authorize";

// `perform` runs the action of the item with the identifier.
void install(gtk::Window& window, std::function<void(const std::string& itemId)> perform);

}  // namespace AppMenu
