#include "platform/gtk/ThemeIcons.h"

#include <gio/gio.h>
#include <gtk/gtk.h>

#include <mutex>

namespace gtk {
namespace {

std::mutex& themeLock() {
    static std::mutex lock;
    return lock;
}

GtkIconTheme* theme() {
    static GtkIconTheme* shared = [] {
        GtkIconTheme* made = gtk_icon_theme_new();
        gtk_icon_theme_set_custom_theme(made, "Adwaita");
        return made;
    }();
    return shared;
}

ThemeIcons::Pixbuf own(GdkPixbuf* pixbuf) {
    return pixbuf ? ThemeIcons::Pixbuf(pixbuf, g_object_unref) : nullptr;
}

ThemeIcons::Pixbuf load(GIcon* icon, int size) {
    std::lock_guard guard(themeLock());
    GtkIconInfo* info = gtk_icon_theme_lookup_by_gicon(theme(), icon, size,
                                                       GTK_ICON_LOOKUP_FORCE_SIZE);
    if (!info) return nullptr;
    GdkPixbuf* pixbuf = gtk_icon_info_load_icon(info, nullptr);
    g_object_unref(info);
    return own(pixbuf);
}

}  // namespace

ThemeIcons::Pixbuf ThemeIcons::iconNamed(const std::string& name, int size) {
    if (name.empty() || size <= 0) return nullptr;
    GIcon* icon = g_themed_icon_new(name.c_str());
    auto pixbuf = load(icon, size);
    g_object_unref(icon);
    return pixbuf;
}

ThemeIcons::Pixbuf ThemeIcons::iconForType(const std::string& type, int size) {
    if (type.empty() || size <= 0) return nullptr;
    gchar* contentType = nullptr;
    if (type.find('/') != std::string::npos) {
        contentType = g_content_type_from_mime_type(type.c_str());
    } else {
        const std::string name = "file." + type;
        contentType = g_content_type_guess(name.c_str(), nullptr, 0, nullptr);
    }
    if (!contentType || g_content_type_is_unknown(contentType)) {
        g_free(contentType);
        return nullptr;
    }
    GIcon* icon = g_content_type_get_icon(contentType);
    g_free(contentType);
    if (!icon) return nullptr;
    auto pixbuf = load(icon, size);
    g_object_unref(icon);
    return pixbuf;
}

}  // namespace gtk
