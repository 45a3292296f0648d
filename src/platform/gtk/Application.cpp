#include "platform/gtk/Application.h"

#include <glib-unix.h>
#include <gtk/gtk.h>

#include <csignal>

namespace gtk {
namespace {

// Main-thread state of the one application object.
struct State {
    bool terminating = false;
    bool running = false;
    std::function<void()> willTerminate;
};

State& state() {
    static State shared;
    return shared;
}

}  // namespace

bool Application::initialize(int& argc, char**& argv) {
    return gtk_init_check(&argc, &argv);
}

void Application::run() {
    auto& s = state();
    if (s.terminating) return;
    s.running = true;
    gtk_main();
    s.running = false;
}

void Application::terminate() {
    auto& s = state();
    if (s.terminating) return;
    s.terminating = true;
    if (auto hook = std::move(s.willTerminate)) hook();
    if (s.running) gtk_main_quit();
}

bool Application::isTerminating() {
    return state().terminating;
}

void Application::setWillTerminate(std::function<void()> hook) {
    state().willTerminate = std::move(hook);
}

void Application::terminateOnSignals() {
    for (int signal : {SIGTERM, SIGINT}) {
        g_unix_signal_add(
            signal,
            [](gpointer) -> gboolean {
                terminate();
                return G_SOURCE_CONTINUE;
            },
            nullptr);
    }
}

void Application::preferLightAppearance() {
    if (GtkSettings* settings = gtk_settings_get_default())
        g_object_set(settings, "gtk-application-prefer-dark-theme", FALSE, nullptr);
}

GtkWindow* Application::keyWindow() {
    GList* windows = gtk_window_list_toplevels();
    GtkWindow* key = nullptr;
    for (GList* it = windows; it && !key; it = it->next) {
        if (gtk_window_is_active(GTK_WINDOW(it->data))) key = GTK_WINDOW(it->data);
    }
    g_list_free(windows);
    return key;
}

}  // namespace gtk
