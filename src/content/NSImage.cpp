#include "content/NSImage.h"

#include <set>
#include <string_view>

#include "content/PNGNormalizer.h"
#include "data/helpers/PictureLoader.h"

namespace NSImage {
namespace {

constexpr std::string_view kArtworkName = "iTunesArtwork";

Image decode(std::span<const std::uint8_t> bytes) {
    return PictureLoader::decode(bytes);
}

// The extensions of the formats the decoder reads, each as written and in upper case: camera
// files are often named "IMG_0001.JPG".
// Never destroyed: a background job may still ask while the process exits.
const std::set<std::string, std::less<>>& readableExtensions() {
    static const auto* const extensions = [] {
        auto* found = new std::set<std::string, std::less<>>;
        GSList* formats = gdk_pixbuf_get_formats();
        for (GSList* item = formats; item; item = item->next) {
            auto* format = static_cast<GdkPixbufFormat*>(item->data);
            gchar* name = gdk_pixbuf_format_get_name(format);
            const bool accepted = PictureLoader::acceptsFormatNamed(name);
            g_free(name);
            if (!accepted || gdk_pixbuf_format_is_disabled(format)) continue;
            gchar** list = gdk_pixbuf_format_get_extensions(format);
            for (gchar** e = list; e && *e; ++e) {
                std::string extension(*e);
                found->insert(extension);
                for (auto& c : extension) c = static_cast<char>(g_ascii_toupper(c));
                found->insert(extension);
            }
            g_strfreev(list);
        }
        g_slist_free(formats);
        return found;
    }();
    return *extensions;
}

// The extension of the last path component, or the whole component when it has none.
std::string_view typeKey(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size()) return name;
    return name.substr(dot + 1);
}

}  // namespace

Image safeImageWithDataIsPNG(std::span<const std::uint8_t> data, bool isPNG) {
    if (isPNG) {
        if (auto normalized =
                PNGNormalizer::dataFromPNGData(foundation::Data(data.begin(), data.end()))) {
            return decode(*normalized);
        }
    }
    return decode(data);
}

bool SupportFileAtPath(const std::string& path) {
    const std::string_view key = typeKey(path);
    return readableExtensions().contains(key) || key == kArtworkName;
}

bool IsPNGFileAtPath(const std::string& path) {
    if (!SupportFileAtPath(path)) return false;
    const std::string_view key = typeKey(path);
    if (key == kArtworkName) return true;
    return key.size() == 3 && g_ascii_strncasecmp(key.data(), "png", 3) == 0;
}

}  // namespace NSImage
