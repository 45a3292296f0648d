#pragma once

#include <functional>

typedef struct _GtkWindow GtkWindow;

namespace gtk {

// The process's GTK application: the toolkit set up once, the main loop run until a
// terminate request. Main thread only.
class Application {
public:
    // Sets up GTK; false when there is no display to open.
    static bool initialize(int& argc, char**& argv);
    // Runs the main loop until terminate() (returns at once when terminated before).
    static void run();
    // Runs the will-terminate hook, then ends the main loop.
    static void terminate();
    static bool isTerminating();
    // Told once, just before the loop ends (logs are flushed there).
    static void setWillTerminate(std::function<void()> hook);
    // SIGTERM and SIGINT terminate in order (through the main loop) instead of ending the
    // process where it stands.
    static void terminateOnSignals();
    // The light variant of the theme for this application, whatever the desktop prefers.
    static void preferLightAppearance();
    // The window that has the focus, or null.
    static GtkWindow* keyWindow();
};

}  // namespace gtk
