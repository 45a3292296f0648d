#pragma once

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/MainLoop.h"

// Drives the native panels, menus and clipboard as a person (or another program) would.
namespace apptest {

// xclip as the other program on the clipboard, started and ended by the test; the main
// loop serves the clipboard while it runs.
class Xclip {
public:
    explicit Xclip(std::vector<std::string> arguments) {
        std::vector<const char*> argv{"xclip"};
        for (const auto& argument : arguments) argv.push_back(argument.c_str());
        argv.push_back(nullptr);
        GError* error = nullptr;
        process_ = g_subprocess_newv(argv.data(),
                                     GSubprocessFlags(G_SUBPROCESS_FLAGS_STDOUT_PIPE |
                                                      G_SUBPROCESS_FLAGS_STDERR_MERGE),
                                     &error);
        if (!process_) {
            ADD_FAILURE() << "cannot start xclip: " << error->message;
            g_error_free(error);
            closed_ = true;
            return;
        }
        readMore();
    }
    ~Xclip() {
        if (process_ && !waitForExit()) g_subprocess_force_exit(process_);
        while (!closed_) g_main_context_iteration(nullptr, TRUE);
        if (process_) g_object_unref(process_);
    }
    // What it printed (its messages and the pasted text), once it has ended.
    bool waitForExit() {
        return testsupport::runMainLoopUntil([&] { return closed_; }, std::chrono::seconds(20));
    }
    bool waitForOutput(const std::string& text) {
        return testsupport::runMainLoopUntil(
            [&] { return output_.find(text) != std::string::npos || closed_; }) &&
               output_.find(text) != std::string::npos;
    }
    const std::string& output() const { return output_; }

private:
    void readMore() {
        g_input_stream_read_async(
            g_subprocess_get_stdout_pipe(process_), buffer_, sizeof buffer_, G_PRIORITY_DEFAULT,
            nullptr,
            +[](GObject* stream, GAsyncResult* result, gpointer data) {
                auto* self = static_cast<Xclip*>(data);
                const gssize got = g_input_stream_read_finish(G_INPUT_STREAM(stream), result, nullptr);
                if (got <= 0) {
                    self->closed_ = true;
                    return;
                }
                self->output_.append(self->buffer_, std::size_t(got));
                self->readMore();
            },
            this);
    }

    GSubprocess* process_ = nullptr;
    char buffer_[4096];
    std::string output_;
    bool closed_ = false;
};

// The first visible top-level window that passes the test, once there is one.
inline GtkWidget* shownWindow(bool (*wanted)(GtkWidget* window)) {
    GtkWidget* found = nullptr;
    testsupport::runMainLoopUntil([&] {
        GList* windows = gtk_window_list_toplevels();
        for (GList* it = windows; it && !found; it = it->next) {
            if (gtk_widget_get_visible(GTK_WIDGET(it->data)) && wanted(GTK_WIDGET(it->data)))
                found = GTK_WIDGET(it->data);
        }
        g_list_free(windows);
        return found != nullptr;
    });
    return found;
}

inline GtkFileChooser* shownChooser() {
    GtkWidget* dialog = shownWindow([](GtkWidget* w) { return bool(GTK_IS_FILE_CHOOSER_DIALOG(w)); });
    return dialog ? GTK_FILE_CHOOSER(dialog) : nullptr;
}

// The pop-up menu shown now (a menu lives in a window of its own).
inline GtkMenuShell* shownMenu() {
    GtkWidget* window = shownWindow([](GtkWidget* w) {
        GtkWidget* child = gtk_bin_get_child(GTK_BIN(w));
        return child && GTK_IS_MENU(child) && gtk_widget_get_visible(child);
    });
    return window ? GTK_MENU_SHELL(gtk_bin_get_child(GTK_BIN(window))) : nullptr;
}

// Selects the file, or goes into the folder, as a person would (the folder loads first),
// then presses OK.
inline void choose(GtkFileChooser* chooser, const std::string& path) {
    if (std::filesystem::is_directory(path))
        gtk_file_chooser_set_current_folder(chooser, path.c_str());
    else
        gtk_file_chooser_select_filename(chooser, path.c_str());
    EXPECT_TRUE(testsupport::runMainLoopUntil([&] {
        gchar* selected = gtk_file_chooser_get_filename(chooser);
        const bool done = selected && path == selected;
        g_free(selected);
        return done;
    }));
    gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_ACCEPT);
}

inline GtkWidget* itemTitled(GtkMenuShell* menu, const std::string& title) {
    GtkWidget* found = nullptr;
    GList* items = gtk_container_get_children(GTK_CONTAINER(menu));
    for (GList* it = items; it; it = it->next) {
        if (!GTK_IS_MENU_ITEM(it->data) || GTK_IS_SEPARATOR_MENU_ITEM(it->data)) continue;
        if (title == gtk_menu_item_get_label(GTK_MENU_ITEM(it->data))) found = GTK_WIDGET(it->data);
    }
    g_list_free(items);
    return found;
}

// Saves what the screen shows as a PNG when ORVANDEL_SCREENSHOTS names a folder (with
// WEBKIT_DISABLE_COMPOSITING_MODE=1, so that the page is drawn where the screen shows it).
inline void screenshot(const char* name) {
    const char* folder = std::getenv("ORVANDEL_SCREENSHOTS");
    if (!folder) return;
    GdkWindow* root = gdk_get_default_root_window();
    GdkPixbuf* shot = gdk_pixbuf_get_from_window(root, 0, 0, gdk_window_get_width(root),
                                                 gdk_window_get_height(root));
    ASSERT_TRUE(shot);
    EXPECT_TRUE(gdk_pixbuf_save(shot, (std::string(folder) + "/" + name).c_str(), "png", nullptr,
                                nullptr));
    g_object_unref(shot);
}

}  // namespace apptest
