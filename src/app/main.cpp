// The process entry: GTK, the registries filled in their order, the application delegate
// over the main window, then the main loop until the user quits or SIGTERM/SIGINT comes.

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "app/AppDeviceFinder.h"
#include "app/AppRegistrations.h"
#include "app/ApplicationTermination.h"
#include "app/DeviceDetection.h"
#include "app/MediaLoaderRelay.h"
#include "app/ProfileInstance.h"
#include "content/ThreadPool.h"
#include "foundation/ConsolePrint.h"
#include "foundation/MainQueue.h"
#include "foundation/UserDefaults.h"
#include "logging/LgLog.h"
#include "media/MediaLoadFolder.h"
#include "media/iTunesLibrary.h"
#include "media/iTunesWrapper.h"
#include "platform/gtk/Application.h"
#include "platform/gtk/Window.h"
#include "platform/music/LibraryAccess.h"
#include "platform/webkit/SoftwarePainting.h"
#include "shell/KolvexAppDelegate.h"

int main(int argc, char** argv) {
    // A device that hangs up in the middle of a TLS write must not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    // Before any thread reads the environment, and before the first view starts its web
    // process, which takes the setting with it.
    webkit::SoftwarePainting::chooseBeforeFirstView();
    const std::vector<std::string> arguments(argv, argv + argc);
    if (!gtk::Application::initialize(argc, argv)) {
        foundation::printToConsole("orvandel: cannot open a display (set DISPLAY, or run under xvfb-run)\n");
        return 1;
    }
    foundation::MainQueue::bindToCurrentThread();
    // One process per profile: a second start brings the running window forward and ends
    // before it touches the profile's preferences, logs or library.
    std::shared_ptr<gtk::Window> window;
    switch (ProfileInstance::claim([&window] {
        if (window) window->present();
    })) {
        case gtk::SingleInstance::Claim::First:
            break;
        case gtk::SingleInstance::Claim::Shown:
            foundation::printToConsole("orvandel: already running on this profile; its window is brought forward\n");
            return 0;
        case gtk::SingleInstance::Claim::Running:
            foundation::printToConsole("{}", ProfileInstance::inUseMessage(ProfileInstance::holder()));
            return 0;
    }
    // Before anything worth keeping happens: a signal from here on quits in order.
    gtk::Application::terminateOnSignals();
    registerApplicationClasses();
    KolvexAppDelegate::initialize();
    // Copies of device databases that an instance cut off before it could remove them.
    ThreadPool::addAsyncJobWithBlock([] { media::MediaLoadFolder::removeStaleFolders(); });

    window = std::make_shared<gtk::Window>(
        gtk::Rect{0, 0, 1100, 720},
        gtk::Titled | gtk::Closable | gtk::Miniaturizable | gtk::Resizable);
    window->setTitle("Orvandel");
    KolvexAppDelegate* appDelegate = nullptr;
    AppServices services;
    services.loadMusicLibrary = [] { media::iTunesLibrary::itLibrary().loadTracks(); };
    services.mayAccessMusicLibrary = [] {
        return music::canReadAndWrite(media::iTunesWrapper::defaultLocation());
    };
    services.containsMusic = [] { return media::iTunesLibrary::containsMusic(); };
    services.startDeviceDetection = [&appDelegate](std::uint32_t kinds) {
        return startDeviceDetection(kinds, *appDelegate);
    };
    services.retryDeviceSetUp = retryPhoneSetUp;
    fillMediaLoading(services, appDelegate);
    auto deviceFinder = std::make_shared<AppDeviceFinder>();
    AppDeviceFinder::installIn(services, deviceFinder);
    KolvexAppDelegate delegate(window, services, arguments);
    appDelegate = &delegate;
    deviceFinder->setAppDelegate(&delegate);
    delegate.awakeFromNib();
    window->show();

    gtk::Application::setWillTerminate([] {
        foundation::UserDefaults::standard().synchronize();
        LgLog::sharedInstance().flushLogToDisk();
    });
    gtk::Application::run();
    // No copy or library load starts from here on; those in flight stop and remove what
    // they wrote, and devices end their sessions. A device that does not answer is not
    // waited for long: a load folder it keeps is removed at the next start.
    finishBeforeExit();
    stopDeviceDetection();
    // The pool may still be serving the page's last requests, with objects of this function
    // and the process's statics in use. The process ends here, with everything worth keeping
    // written, rather than destroying those under the threads that use them.
    foundation::UserDefaults::standard().synchronize();
    LgLog::sharedInstance().flushLogToDisk();
    std::fflush(nullptr);
    std::_Exit(0);
}
