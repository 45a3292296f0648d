#include "platform/gtk/Screen.h"

#include <gtk/gtk.h>

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

}  // namespace gtk
