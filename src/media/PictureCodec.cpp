#include "media/PictureCodec.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cstring>
#include <memory>

#include "data/helpers/PictureLoader.h"
#include "logging/LogCall.h"

namespace media {

namespace {

struct ObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, ObjectUnref>;

}  // namespace

std::optional<RgbaImage> PictureCodec::decode(std::span<const std::uint8_t> bytes) {
    const auto decoded = PictureLoader::decode(bytes, kMaxPixels);
    if (!decoded || gdk_pixbuf_get_bits_per_sample(decoded.get()) != 8) return std::nullopt;
    GObjectPtr<GdkPixbuf> rgba(gdk_pixbuf_add_alpha(decoded.get(), FALSE, 0, 0, 0));
    if (!rgba) return std::nullopt;
    RgbaImage image;
    image.width = gdk_pixbuf_get_width(rgba.get());
    image.height = gdk_pixbuf_get_height(rgba.get());
    const int stride = gdk_pixbuf_get_rowstride(rgba.get());
    const guint8* pixels = gdk_pixbuf_read_pixels(rgba.get());
    image.pixels.resize(std::size_t(image.width) * image.height * 4);
    for (int y = 0; y < image.height; ++y) {
        std::memcpy(&image.pixels[std::size_t(y) * image.width * 4],
                    pixels + std::size_t(y) * stride, std::size_t(image.width) * 4);
    }
    return image;
}

std::optional<std::vector<std::uint8_t>> PictureCodec::encodePNG(const RgbaImage& image) {
    if (image.width <= 0 || image.height <= 0 ||
        image.pixels.size() != std::size_t(image.width) * image.height * 4) {
        return std::nullopt;
    }
    GObjectPtr<GdkPixbuf> pixbuf(gdk_pixbuf_new_from_data(image.pixels.data(), GDK_COLORSPACE_RGB,
                                                          TRUE, 8, image.width, image.height,
                                                          image.width * 4, nullptr, nullptr));
    gchar* buffer = nullptr;
    gsize size = 0;
    GError* error = nullptr;
    if (!gdk_pixbuf_save_to_buffer(pixbuf.get(), &buffer, &size, "png", &error, nullptr)) {
        LogWarn("PNG encoding failed: {}", error ? error->message : "unknown error");
        g_clear_error(&error);
        return std::nullopt;
    }
    std::vector<std::uint8_t> png(buffer, buffer + size);
    g_free(buffer);
    return png;
}

}  // namespace media
