#include "platform/gtk/Alert.h"

#include <gtk/gtk.h>

namespace gtk {
namespace {

GtkMessageType messageType(Alert::Style style) {
    switch (style) {
        case Alert::Style::Informational:
            return GTK_MESSAGE_INFO;
        case Alert::Style::Critical:
            return GTK_MESSAGE_ERROR;
        case Alert::Style::Warning:
            break;
    }
    return GTK_MESSAGE_WARNING;
}

}  // namespace

Alert::~Alert() {
    if (dialog_) gtk_widget_destroy(dialog_);
}

GtkWidget* Alert::build(GtkWindow* parent) {
    if (buttons_.empty()) buttons_.push_back("OK");
    // Both texts are set as plain text: "%@" or "<b>" in a message show as written.
    dialog_ = gtk_message_dialog_new(
        parent, GtkDialogFlags(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
        icon_.empty() ? messageType(style_) : GTK_MESSAGE_OTHER, GTK_BUTTONS_NONE, "%s",
        message_.c_str());
    if (!informative_.empty()) {
        gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog_), "%s",
                                                 informative_.c_str());
    }
    for (std::size_t i = 0; i < buttons_.size(); ++i) {
        gtk_dialog_add_button(GTK_DIALOG(dialog_), buttons_[i].c_str(), int(kFirstButton + i));
    }
    gtk_dialog_set_default_response(GTK_DIALOG(dialog_), kFirstButton);
    GtkWidget* area = gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(dialog_));
    if (!icon_.empty()) {
        GtkWidget* image = g_file_test(icon_.c_str(), G_FILE_TEST_IS_REGULAR)
                               ? gtk_image_new_from_file(icon_.c_str())
                               : gtk_image_new_from_icon_name(icon_.c_str(), GTK_ICON_SIZE_DIALOG);
        // Beside the texts, where the dialog keeps its own image.
        GtkWidget* row = gtk_widget_get_parent(area);
        gtk_box_pack_start(GTK_BOX(row), image, FALSE, FALSE, 0);
        gtk_box_reorder_child(GTK_BOX(row), image, 0);
        gtk_widget_set_valign(image, GTK_ALIGN_START);
        gtk_widget_show(image);
    }
    if (accessory_) {
        GtkWidget* scroller = gtk_scrolled_window_new(nullptr, nullptr);
        gtk_widget_set_size_request(scroller, 400, 100);
        GtkWidget* text = gtk_text_view_new();
        gtk_text_view_set_editable(GTK_TEXT_VIEW(text), FALSE);
        gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(text)), accessory_->c_str(),
                                 -1);
        gtk_container_add(GTK_CONTAINER(scroller), text);
        gtk_box_pack_start(GTK_BOX(area), scroller, TRUE, TRUE, 0);
    }
    if (hasField_) {
        entry_ = gtk_entry_new();
        gtk_entry_set_text(GTK_ENTRY(entry_), field_.c_str());
        gtk_entry_set_activates_default(GTK_ENTRY(entry_), TRUE);
        gtk_widget_set_size_request(entry_, fieldWidth_, fieldHeight_);
        gtk_box_pack_start(GTK_BOX(area), entry_, FALSE, FALSE, 0);
    }
    if (showsSuppression_) {
        checkBox_ = gtk_check_button_new_with_label(suppressionTitle_.empty()
                                                        ? "Do not show this message again"
                                                        : suppressionTitle_.c_str());
        gtk_box_pack_start(GTK_BOX(area), checkBox_, FALSE, FALSE, 0);
    }
    gtk_widget_show_all(area);
    if (entry_) gtk_widget_grab_focus(entry_);
    return dialog_;
}

int Alert::finish(int response) {
    if (checkBox_) suppressionChecked_ = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(checkBox_));
    if (entry_) field_ = gtk_entry_get_text(GTK_ENTRY(entry_));
    entry_ = nullptr;
    gtk_widget_destroy(dialog_);
    dialog_ = nullptr;
    checkBox_ = nullptr;
    if (response < kFirstButton)
        response = closedCode_.value_or(kFirstButton + int(buttons_.size()) - 1);
    return response;
}

int Alert::runModal(GtkWindow* parent) {
    build(parent);
    return finish(gtk_dialog_run(GTK_DIALOG(dialog_)));
}

void Alert::beginSheet(GtkWindow* parent, std::function<void(int)> completion) {
    build(parent);
    struct Context {
        Alert* alert;
        std::function<void(int)> completion;
    };
    auto* context = new Context{this, std::move(completion)};
    g_signal_connect_data(
        dialog_, "response", G_CALLBACK(+[](GtkDialog*, int response, gpointer data) {
            auto* context = static_cast<Context*>(data);
            const int code = context->alert->finish(response);
            auto completion = std::move(context->completion);
            if (completion) completion(code);
        }),
        context, [](gpointer data, GClosure*) { delete static_cast<Context*>(data); },
        GConnectFlags(0));
    gtk_widget_show(dialog_);
}

}  // namespace gtk
