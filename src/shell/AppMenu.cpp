#include "shell/AppMenu.h"

#include "foundation/NotificationCenter.h"
#include "foundation/Value.h"
#include "platform/gtk/MenuBar.h"
#include "shell/ShellNotifications.h"

namespace AppMenu {

void install(gtk::Window& window, std::function<void(const std::string& itemId)> perform) {
    // Only items that do something: the delegate's preferences, diagnose and help actions
    // have nothing behind them, so no item offers them.
    std::vector<gtk::MenuBar::Menu> menus = {
        {"Orvandel", {{kQuit, "Quit Orvandel", 2}}},
        {"Library",
         {{kCheckAuthorize, "Check Music Library Access", 3},
          {kAlertAuthorize, "How to Allow Music Library Access", 4}}},
    };
    gtk::MenuBar::install(window, std::move(menus), [perform](const gtk::MenuBar::Item& item) {
        if (perform) perform(item.id);
        foundation::NotificationCenter::defaultCenter().post(
            kMenuDidSendActionNotification, nullptr,
            {{"MenuItem", foundation::Value::dict({{"id", item.id},
                                                   {"title", item.title},
                                                   {"tag", item.tag}})}});
    });
}

}  // namespace AppMenu
