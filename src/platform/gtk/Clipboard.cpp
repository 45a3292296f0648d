#include "platform/gtk/Clipboard.h"

#include <gtk/gtk.h>

#include <memory>
#include <sstream>

namespace gtk {
namespace {

constexpr const char* kGnomeCopiedFiles = "x-special/gnome-copied-files";
constexpr const char* kURIList = "text/uri-list";

GtkClipboard* general() {
    return gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
}

using Done = std::function<void(std::vector<std::string>)>;

void requestTarget(const char* target, Done done) {
    gtk_clipboard_request_contents(
        general(), gdk_atom_intern_static_string(target),
        +[](GtkClipboard*, GtkSelectionData* selection, gpointer data) {
            std::unique_ptr<Done> done(static_cast<Done*>(data));
            std::string text;
            const gint length = selection ? gtk_selection_data_get_length(selection) : -1;
            if (length > 0) {
                text.assign(reinterpret_cast<const char*>(gtk_selection_data_get_data(selection)),
                            std::size_t(length));
            }
            (*done)(Clipboard::pathsFromURIList(text));
        },
        new Done(std::move(done)));
}

}  // namespace

void Clipboard::requestFilePaths(std::function<void(std::vector<std::string>)> done) {
    gtk_clipboard_request_targets(
        general(),
        +[](GtkClipboard*, GdkAtom* atoms, gint count, gpointer data) {
            std::unique_ptr<Done> done(static_cast<Done*>(data));
            const char* chosen = nullptr;
            for (gint i = 0; i < count; ++i) {
                gchar* name = gdk_atom_name(atoms[i]);
                if (g_strcmp0(name, kGnomeCopiedFiles) == 0) chosen = kGnomeCopiedFiles;
                if (g_strcmp0(name, kURIList) == 0 && !chosen) chosen = kURIList;
                g_free(name);
            }
            if (!chosen) {
                (*done)({});
                return;
            }
            requestTarget(chosen, std::move(*done));
        },
        new Done(std::move(done)));
}

void Clipboard::clear() {
    // Clearing only drops what this process put there; taking the clipboard with nothing
    // on it empties it whoever owned it.
    gtk_clipboard_set_text(general(), "", 0);
}

void Clipboard::setText(const std::string& text) {
    gtk_clipboard_set_text(general(), text.data(), gint(text.size()));
}

std::vector<std::string> Clipboard::pathsFromURIList(const std::string& text) {
    std::vector<std::string> paths;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        while (!line.empty() && (line.back() == '\r' || line.back() == '\0')) line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        gchar* path = g_filename_from_uri(line.c_str(), nullptr, nullptr);
        if (!path) continue;  // "copy", "cut" and URIs of other schemes
        paths.emplace_back(path);
        g_free(path);
    }
    return paths;
}

}  // namespace gtk
