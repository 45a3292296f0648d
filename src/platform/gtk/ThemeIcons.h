#pragma once

#include <memory>
#include <string>

typedef struct _GdkPixbuf GdkPixbuf;

namespace gtk {

// Icons of the desktop's icon theme, for any thread and without a display: one theme object
// of our own, used under a lock (GTK's default theme belongs to the main thread).
class ThemeIcons {
public:
    using Pixbuf = std::shared_ptr<GdkPixbuf>;

    // The named icon at `size` pixels; empty when the theme has none.
    static Pixbuf iconNamed(const std::string& name, int size);
    // The icon of a content type (a MIME type, or a file name extension such as "mp3");
    // empty for a type the system does not know.
    static Pixbuf iconForType(const std::string& type, int size);
};

}  // namespace gtk
