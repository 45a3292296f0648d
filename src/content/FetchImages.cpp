#include "content/FetchImages.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "platform/gtk/ThemeIcons.h"

namespace content {
namespace {

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    return std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) ==
               std::tolower(static_cast<unsigned char>(b));
    });
}

bool containsIgnoringCase(std::string_view text, std::string_view part) {
    for (std::size_t at = 0; at + part.size() <= text.size(); ++at) {
        if (startsWithIgnoringCase(text.substr(at), part)) return true;
    }
    return false;
}

}  // namespace

std::optional<foundation::Data> pngDataOfImage(const NSImage::Image& image, int size) {
    if (!image) return std::nullopt;
    NSImage::Image scaled = image;
    const int width = gdk_pixbuf_get_width(image.get());
    const int height = gdk_pixbuf_get_height(image.get());
    if (size > 0 && width > 0 && height > 0 && (width != size || height != size) &&
        std::max(width, height) != size) {
        const double factor = double(size) / std::max(width, height);
        const int w = std::max(1, int(width * factor));
        const int h = std::max(1, int(height * factor));
        GdkPixbuf* made = gdk_pixbuf_scale_simple(image.get(), w, h, GDK_INTERP_BILINEAR);
        if (!made) return std::nullopt;
        scaled = NSImage::Image(made, g_object_unref);
    }
    gchar* buffer = nullptr;
    gsize length = 0;
    if (!gdk_pixbuf_save_to_buffer(scaled.get(), &buffer, &length, "png", nullptr, nullptr))
        return std::nullopt;
    foundation::Data data(reinterpret_cast<std::uint8_t*>(buffer),
                          reinterpret_cast<std::uint8_t*>(buffer) + length);
    g_free(buffer);
    return data;
}

NSImage::Image deviceModelIcon(const std::string& product, const std::string& model, int size) {
    // Our device icons: a themed icon per kind of device, known by its product code's
    // prefix or a word of its model text.
    struct Kind {
        std::string_view prefix;
        std::string_view icon;
    };
    static constexpr std::array<Kind, 3> kKinds{{{"iPhone", "phone"},
                                                 {"iPad", "computer"},
                                                 {"iPod", "multimedia-player"}
                                                 }};
    for (const Kind& kind : kKinds) {
        if (startsWithIgnoringCase(product, kind.prefix) || containsIgnoringCase(model, kind.prefix))
            return gtk::ThemeIcons::iconNamed(std::string(kind.icon), size > 0 ? size : 128);
    }
    return nullptr;
}

}  // namespace content
