#include "platform/gtk/FileChooser.h"

#include <gtk/gtk.h>

#include <memory>

namespace gtk {

std::string FileChooser::caseInsensitivePattern(const std::string& extension) {
    std::string pattern = "*.";
    for (char c : extension) {
        const char lower = g_ascii_tolower(c);
        const char upper = g_ascii_toupper(c);
        if (lower != upper) {
            pattern += '[';
            pattern += lower;
            pattern += upper;
            pattern += ']';
        } else if (c == '*' || c == '?' || c == '[' || c == ']' || c == '\\') {
            pattern += '[';  // a pattern character stands for itself
            pattern += c;
            pattern += ']';
        } else {
            pattern += c;
        }
    }
    return pattern;
}

GtkWidget* FileChooser::begin(GtkWindow* parent, const Options& options, Completion done) {
    const GtkFileChooserAction action = options.save      ? GTK_FILE_CHOOSER_ACTION_SAVE
                                        : options.folders ? GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER
                                                          : GTK_FILE_CHOOSER_ACTION_OPEN;
    const std::string accept = options.prompt ? *options.prompt
                               : options.save ? "_Save"
                                              : "_Open";
    const std::string title = options.caption ? *options.caption
                              : options.save  ? "Save"
                                              : "Open";
    GtkWidget* dialog = gtk_file_chooser_dialog_new(title.c_str(), parent, action, "_Cancel",
                                                    GTK_RESPONSE_CANCEL, accept.c_str(),
                                                    GTK_RESPONSE_ACCEPT, nullptr);
    auto* chooser = GTK_FILE_CHOOSER(dialog);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
    gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
    gtk_window_set_destroy_with_parent(GTK_WINDOW(dialog), TRUE);
    gtk_file_chooser_set_local_only(chooser, TRUE);
    if (options.save && options.filename)
        gtk_file_chooser_set_current_name(chooser, options.filename->c_str());
    if (!options.save) gtk_file_chooser_set_select_multiple(chooser, options.multiple);
    if (options.createFolders || options.save)
        gtk_file_chooser_set_create_folders(chooser, TRUE);
    else if (action != GTK_FILE_CHOOSER_ACTION_OPEN)
        gtk_file_chooser_set_create_folders(chooser, FALSE);
    if (!options.extensions.empty()) {
        GtkFileFilter* filter = gtk_file_filter_new();
        std::string name;
        for (const auto& extension : options.extensions) {
            gtk_file_filter_add_pattern(filter, caseInsensitivePattern(extension).c_str());
            name += (name.empty() ? "*." : ", *.") + extension;
        }
        gtk_file_filter_set_name(filter, name.c_str());
        gtk_file_chooser_add_filter(chooser, filter);  // takes the floating reference
    }

    // Answered exactly once: by the response, or by the dialog going away unanswered.
    struct Pending {
        Completion done;
        void finish(std::optional<std::vector<std::string>> paths) {
            if (auto told = std::move(done)) {
                done = nullptr;
                told(std::move(paths));
            }
        }
    };
    auto* pending = new std::shared_ptr<Pending>(std::make_shared<Pending>(Pending{std::move(done)}));
    g_signal_connect_data(
        dialog, "response",
        G_CALLBACK(+[](GtkDialog* dialog, gint response, gpointer data) {
            auto pending = *static_cast<std::shared_ptr<Pending>*>(data);
            std::optional<std::vector<std::string>> paths;
            if (response == GTK_RESPONSE_ACCEPT) {
                paths.emplace();
                GSList* files = gtk_file_chooser_get_filenames(GTK_FILE_CHOOSER(dialog));
                for (GSList* it = files; it; it = it->next) {
                    paths->emplace_back(static_cast<char*>(it->data));
                    g_free(it->data);
                }
                g_slist_free(files);
            }
            gtk_widget_destroy(GTK_WIDGET(dialog));
            pending->finish(std::move(paths));
        }),
        pending,
        +[](gpointer data, GClosure*) {
            auto* pending = static_cast<std::shared_ptr<Pending>*>(data);
            (*pending)->finish(std::nullopt);
            delete pending;
        },
        GConnectFlags(0));
    gtk_widget_show(dialog);
    return dialog;
}

}  // namespace gtk
