#include "platform/gtk/Screen.h"

#include <gtk/gtk.h>

#include <algorithm>

namespace gtk {

Rect Screen::mainFrame() {
    GdkDisplay* display = gdk_display_get_default();
    if (!display) return {};
    GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
    if (!monitor) monitor = gdk_display_get_monitor(display, 0);
    if (!monitor) return {};
    GdkRectangle area;
    gdk_monitor_get_geometry(monitor, &area);
    return {area.x, area.y, area.width, area.height};
}

Rect Screen::fullScreenRectOf(const std::vector<Rect>& screens, bool separateSpaces,
                              Rect mainScreen) {
    if (separateSpaces && screens.size() >= 2) {
        g_message("full screen can only cover the main screen: the screens have separate spaces");
        return mainScreen;
    }
    int left = 0, top = 0, right = 0, bottom = 0;
    for (const Rect& screen : screens) {
        left = std::min(left, screen.x);
        top = std::min(top, screen.y);
        right = std::max(right, screen.x + screen.width);
        bottom = std::max(bottom, screen.y + screen.height);
    }
    return {left, top, right - left, bottom - top};
}

Rect Screen::fullScreenRect() {
    GdkDisplay* display = gdk_display_get_default();
    std::vector<Rect> screens;
    const int count = display ? gdk_display_get_n_monitors(display) : 0;
    g_message("screens: %d", count);
    for (int i = 0; i < count; ++i) {
        GdkRectangle area;
        gdk_monitor_get_geometry(gdk_display_get_monitor(display, i), &area);
        screens.push_back({area.x, area.y, area.width, area.height});
        const auto name = screenNameForDisplay(i);
        g_message("screen %s: origin %d, %d, size %d x %d", name ? name->c_str() : "(none)", area.x,
                  area.y, area.width, area.height);
    }
    // Linux has no per-screen spaces: a window may always span every screen.
    return fullScreenRectOf(screens, false, mainFrame());
}

std::optional<std::string> Screen::screenNameForDisplay(int display) {
    GdkDisplay* gdk = gdk_display_get_default();
    GdkMonitor* monitor = gdk && display >= 0 ? gdk_display_get_monitor(gdk, display) : nullptr;
    const char* model = monitor ? gdk_monitor_get_model(monitor) : nullptr;
    if (!model || !*model) return std::nullopt;
    return std::string(model);
}

}  // namespace gtk
