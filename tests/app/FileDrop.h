#pragma once

#include <X11/extensions/XTest.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <chrono>
#include <string>

#include "support/MainLoop.h"

namespace apptest {

// Drags a file onto a widget as a person does with the pointer: from a small window of
// its own that offers the file's address, pressed, moved over the widget and released there
// (through the X server's test extension, so the window system carries the drop).
class FileDrop {
public:
    explicit FileDrop(std::string uri) : uri_(std::move(uri)) {
        source_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_default_size(GTK_WINDOW(source_), 80, 80);
        gtk_window_move(GTK_WINDOW(source_), 700, 100);
        GtkWidget* box = gtk_event_box_new();
        gtk_container_add(GTK_CONTAINER(source_), box);
        GtkTargetEntry target{const_cast<char*>("text/uri-list"), 0, 0};
        gtk_drag_source_set(box, GDK_BUTTON1_MASK, &target, 1,
                            GdkDragAction(GDK_ACTION_COPY | GDK_ACTION_MOVE | GDK_ACTION_LINK));
        g_signal_connect(box, "drag-data-get", G_CALLBACK(&FileDrop::offer), this);
        g_signal_connect(box, "drag-begin",
                         G_CALLBACK(+[](GtkWidget*, GdkDragContext* context, gpointer self) {
                             static_cast<FileDrop*>(self)->context_ = context;
                         }),
                         this);
        g_signal_connect(box, "drag-end", G_CALLBACK(+[](GtkWidget*, GdkDragContext*, gpointer self) {
                             static_cast<FileDrop*>(self)->ended_ = true;
                         }),
                         this);
        gtk_widget_show_all(source_);
    }
    ~FileDrop() { gtk_widget_destroy(source_); }

    // Drops onto the middle of the widget; true once the drag has ended. Each step waits
    // for the window system's answer to the one before: the drag has begun, the widget
    // takes the drop.
    bool onto(GtkWidget* widget) {
        if (!testsupport::runMainLoopUntil([&] {
                return gtk_widget_get_mapped(source_) && gtk_widget_get_mapped(widget);
            })) {
            return false;
        }
        // Other windows of the process may lie over the place: ours go on top.
        gdk_window_raise(gtk_widget_get_window(gtk_widget_get_toplevel(widget)));
        gdk_window_raise(gtk_widget_get_window(source_));
        pause(300);
        int sx = 0, sy = 0, tx = 0, ty = 0;
        gdk_window_get_origin(gtk_widget_get_window(source_), &sx, &sy);
        gdk_window_get_origin(gtk_widget_get_window(widget), &tx, &ty);
        GtkAllocation target;
        gtk_widget_get_allocation(widget, &target);
        sx += 40;
        sy += 40;
        tx += target.width / 2;
        ty += target.height / 2;
        Display* display = GDK_DISPLAY_XDISPLAY(gdk_display_get_default());
        auto moveTo = [display](int x, int y) {
            XTestFakeMotionEvent(display, -1, x, y, CurrentTime);
            XFlush(display);
            pause(30);
        };
        moveTo(sx, sy);
        XTestFakeButtonEvent(display, 1, True, CurrentTime);
        XFlush(display);
        for (int step = 1; !context_ && step <= 100; ++step) moveTo(sx - step, sy);
        if (!context_) return false;
        for (int step = 1; step <= 10; ++step)
            moveTo(sx + (tx - sx) * step / 10, sy + (ty - sy) * step / 10);
        // Taken a few times in a row: the page under the pointer has had its say.
        int takenInARow = 0;
        for (int wiggle = 0; takenInARow < 10 && wiggle < 300; ++wiggle) {
            moveTo(tx + wiggle % 2, ty);
            takenInARow = gdk_drag_context_get_selected_action(context_) != 0 ? takenInARow + 1 : 0;
        }
        const bool taken = takenInARow == 10;
        XTestFakeButtonEvent(display, 1, False, CurrentTime);
        XFlush(display);
        return testsupport::runMainLoopUntil([&] { return ended_; }, std::chrono::seconds(10)) &&
               taken;
    }

    // Runs the main loop for a while: the pointer's events travel through the X server.
    static void pause(int milliseconds) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        testsupport::runMainLoopUntil([&] { return std::chrono::steady_clock::now() >= until; });
    }

private:
    static void offer(GtkWidget*, GdkDragContext*, GtkSelectionData* data, guint, guint,
                      gpointer self) {
        const std::string& uri = static_cast<FileDrop*>(self)->uri_;
        gchar* uris[] = {const_cast<gchar*>(uri.c_str()), nullptr};
        gtk_selection_data_set_uris(data, uris);
    }

    std::string uri_;
    GtkWidget* source_ = nullptr;
    GdkDragContext* context_ = nullptr;  // the drag's, once it has begun
    bool ended_ = false;
};

}  // namespace apptest
