#pragma once

#include <gtk/gtk.h>

#include <string>

namespace apptest {

// Answers the next dialog that appears, as a person would: optionally ticks its check box,
// then presses the button with the code. Remembers the texts it saw.
class DialogAnswerer {
public:
    DialogAnswerer(int response, bool tickCheckBox = false)
        : response_(response), tick_(tickCheckBox) {
        g_idle_add(&DialogAnswerer::poll, this);
    }
    ~DialogAnswerer() { g_idle_remove_by_data(this); }

    const std::string& texts() const { return texts_; }
    // The names of the theme icons the dialog shows, one a line.
    const std::string& icons() const { return icons_; }
    bool answered() const { return answered_; }
    // The text views the dialog shows, one a line: "WxH read-only: text", the size being
    // that of the view's scroller.
    const std::string& textViews() const { return textViews_; }

private:
    static void collect(GtkWidget* widget, gpointer data) {
        auto* self = static_cast<DialogAnswerer*>(data);
        if (GTK_IS_LABEL(widget))
            self->texts_ += std::string(gtk_label_get_text(GTK_LABEL(widget))) + "\n";
        if (GTK_IS_IMAGE(widget) && gtk_widget_get_visible(widget) &&
            gtk_image_get_storage_type(GTK_IMAGE(widget)) == GTK_IMAGE_ICON_NAME) {
            const char* name = nullptr;
            gtk_image_get_icon_name(GTK_IMAGE(widget), &name, nullptr);
            if (name) self->icons_ += std::string(name) + "\n";
        }
        if (GTK_IS_TEXT_VIEW(widget)) {
            int width = 0, height = 0;
            gtk_widget_get_size_request(gtk_widget_get_parent(widget), &width, &height);
            GtkTextIter start, end;
            GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(widget));
            gtk_text_buffer_get_bounds(buffer, &start, &end);
            gchar* text = gtk_text_buffer_get_text(buffer, &start, &end, TRUE);
            self->textViews_ +=
                std::to_string(width) + "x" + std::to_string(height) +
                (gtk_text_view_get_editable(GTK_TEXT_VIEW(widget)) ? " editable: "
                                                                   : " read-only: ") +
                text + "\n";
            g_free(text);
        }
        if (GTK_IS_CHECK_BUTTON(widget) && self->tick_) {
            gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(widget), TRUE);
        }
        if (GTK_IS_CONTAINER(widget)) gtk_container_foreach(GTK_CONTAINER(widget), collect, data);
    }

    static gboolean poll(gpointer data) {
        auto* self = static_cast<DialogAnswerer*>(data);
        GList* windows = gtk_window_list_toplevels();
        GtkWidget* dialog = nullptr;
        for (GList* it = windows; it; it = it->next) {
            if (GTK_IS_DIALOG(it->data) && gtk_widget_get_visible(GTK_WIDGET(it->data))) {
                dialog = GTK_WIDGET(it->data);
            }
        }
        g_list_free(windows);
        if (!dialog) return G_SOURCE_CONTINUE;
        collect(dialog, self);
        self->answered_ = true;
        gtk_dialog_response(GTK_DIALOG(dialog), self->response_);
        return G_SOURCE_REMOVE;
    }

    int response_;
    bool tick_;
    bool answered_ = false;
    std::string texts_;
    std::string icons_;
    std::string textViews_;
};

}  // namespace apptest
