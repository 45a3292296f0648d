// The process entry: GTK, the registries filled in their order, the application delegate
// over the main window, then the main loop until the user quits.

#include <memory>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "content/SchemeResponders.h"
#include "files/WVLocalFilesystemPlugin.h"
#include "foundation/MainQueue.h"
#include "logging/LgLog.h"
#include "media/AudioConverter.h"
#include "platform/gtk/Application.h"
#include "platform/gtk/Window.h"
#include "shell/KolvexAppDelegate.h"
#include "shell/events/RingtoneEventHandler.h"
#include "shell/plugins/PluginClassList.h"
#include "shell/plugins/WVEventPlugin.h"

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv, argv + argc);
    if (!gtk::Application::initialize(argc, argv)) {
        fmt::print(stderr,
                   "orvandel: cannot open a display (set DISPLAY, or run under xvfb-run)\n");
        return 1;
    }
    foundation::MainQueue::bindToCurrentThread();
    content::registerSchemeResponders();
    PluginClassList plugins;
    plugins.localFilesystem = WVLocalFilesystemPlugin::pluginClass();
    plugins.addToPluginBase();
    WVEventPlugin::addHandlerClassForEvent(
        RingtoneEventHandler::handlerClass(
            {media::AudioConverter::getAudioTagInfoOfFile, media::AudioConverter::convertToM4AError,
             media::AudioConverter::convertToM4RStartEndWithTitleError}),
        "ringtone");
    KolvexAppDelegate::initialize();

    auto window = std::make_shared<gtk::Window>(
        gtk::Rect{0, 0, 1100, 720},
        gtk::Titled | gtk::Closable | gtk::Miniaturizable | gtk::Resizable);
    window->setTitle("Orvandel");
    // No device layer or music library is wired in yet: start-up runs every step with none.
    KolvexAppDelegate delegate(window, AppServices{}, arguments);
    delegate.awakeFromNib();
    window->show();

    gtk::Application::setWillTerminate([] { LgLog::sharedInstance().flushLog(); });
    gtk::Application::run();
    return 0;
}
