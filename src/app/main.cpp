// The process entry: GTK, the registries filled in their order, the application delegate
// over the main window, then the main loop until the user quits or SIGTERM/SIGINT comes.

#include <memory>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "content/SchemeResponders.h"
#include "foundation/MainQueue.h"
#include "foundation/UserDefaults.h"
#include "logging/LgLog.h"
#include "platform/gtk/Application.h"
#include "platform/gtk/Window.h"
#include "shell/KolvexAppDelegate.h"
#include "shell/plugins/PluginClassList.h"

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv, argv + argc);
    if (!gtk::Application::initialize(argc, argv)) {
        fmt::print(stderr,
                   "orvandel: cannot open a display (set DISPLAY, or run under xvfb-run)\n");
        return 1;
    }
    foundation::MainQueue::bindToCurrentThread();
    // Before anything worth keeping happens: a signal from here on quits in order.
    gtk::Application::terminateOnSignals();
    content::registerSchemeResponders();
    PluginClassList{}.addToPluginBase();
    KolvexAppDelegate::initialize();

    auto window = std::make_shared<gtk::Window>(
        gtk::Rect{0, 0, 1100, 720},
        gtk::Titled | gtk::Closable | gtk::Miniaturizable | gtk::Resizable);
    window->setTitle("Orvandel");
    // No device layer or music library is wired in yet: start-up runs every step with none.
    KolvexAppDelegate delegate(window, AppServices{}, arguments);
    delegate.awakeFromNib();
    window->show();

    gtk::Application::setWillTerminate([] {
        foundation::UserDefaults::standard().synchronize();
        LgLog::sharedInstance().flushLog();
    });
    gtk::Application::run();
    return 0;
}
