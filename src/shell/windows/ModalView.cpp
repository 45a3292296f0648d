#include "shell/windows/ModalView.h"

#include <gtk/gtk.h>

#include "platform/gtk/WidgetStyle.h"

namespace {
constexpr const char* kMarker = "orvandel-modal-view";
}

GtkWidget* ModalView::create() {
    GtkWidget* cover = gtk_event_box_new();
    gtk_widget_set_name(cover, kMarker);
    gtk_widget_set_hexpand(cover, TRUE);
    gtk_widget_set_vexpand(cover, TRUE);
    gtk_event_box_set_above_child(GTK_EVENT_BOX(cover), TRUE);
    gtk::applyStyle(cover, "#orvandel-modal-view { background-color: rgba(204, 204, 204, 0.5); }");
    auto swallow = +[](GtkWidget*, GdkEvent*, gpointer) -> gboolean { return TRUE; };
    g_signal_connect(cover, "button-press-event", G_CALLBACK(swallow), nullptr);
    g_signal_connect(cover, "button-release-event", G_CALLBACK(swallow), nullptr);
    g_signal_connect(cover, "touch-event", G_CALLBACK(swallow), nullptr);
    return cover;
}

bool ModalView::isModalView(GtkWidget* widget) {
    return widget && g_strcmp0(gtk_widget_get_name(widget), kMarker) == 0;
}
