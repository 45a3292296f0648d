#include "data/helpers/PictureLoader.h"

#include <algorithm>
#include <cstring>

#include "logging/LogCall.h"

namespace {

struct SizeCheck {
    std::int64_t maxPixels;
    bool refused = false;
};

// A size of 0 x 0 makes the PNG and JPEG loaders stop with an error right after the header,
// before they allocate the picture.
void refuseHugePictures(GdkPixbufLoader* loader, int width, int height, gpointer data) {
    auto* check = static_cast<SizeCheck*>(data);
    if (width <= 0 || height <= 0 ||
        static_cast<std::int64_t>(width) * height > check->maxPixels) {
        check->refused = true;
        gdk_pixbuf_loader_set_size(loader, 0, 0);
    }
}

}  // namespace

PictureLoader::Format PictureLoader::formatOf(std::span<const std::uint8_t> bytes) {
    static constexpr std::uint8_t kPNG[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    static constexpr std::uint8_t kJPEG[] = {0xFF, 0xD8, 0xFF};
    if (bytes.size() >= sizeof kPNG && std::memcmp(bytes.data(), kPNG, sizeof kPNG) == 0)
        return Format::PNG;
    if (bytes.size() >= sizeof kJPEG && std::memcmp(bytes.data(), kJPEG, sizeof kJPEG) == 0)
        return Format::JPEG;
    return Format::Unknown;
}

bool PictureLoader::acceptsFormatNamed(std::string_view name) {
    return name == "png" || name == "jpeg";
}

std::shared_ptr<GdkPixbuf> PictureLoader::decode(std::span<const std::uint8_t> bytes,
                                                 std::int64_t maxPixels) {
    const Format format = formatOf(bytes);
    if (format == Format::Unknown) return nullptr;
    GError* error = nullptr;
    GdkPixbufLoader* loader =
        gdk_pixbuf_loader_new_with_type(format == Format::PNG ? "png" : "jpeg", &error);
    if (!loader) {
        LogWarn("no picture loader: {}", error ? error->message : "unknown error");
        g_clear_error(&error);
        return nullptr;
    }
    SizeCheck check{maxPixels};
    g_signal_connect(loader, "size-prepared", G_CALLBACK(refuseHugePictures), &check);
    // In steps, so that nothing more is handed over once the header was refused.
    constexpr std::size_t kStep = 64 * 1024;
    bool written = true;
    for (std::size_t at = 0; written && !check.refused && at < bytes.size(); at += kStep) {
        const std::size_t length = std::min(kStep, bytes.size() - at);
        written = gdk_pixbuf_loader_write(loader, bytes.data() + at, length, &error);
        g_clear_error(&error);
    }
    // Closing is needed even after a failed write; its own failure means no picture.
    const bool closed = gdk_pixbuf_loader_close(loader, &error);
    if (error) {
        LogDebug("picture does not decode: {}", error->message);
        g_clear_error(&error);
    }
    GdkPixbuf* pixbuf = written && closed && !check.refused
                            ? gdk_pixbuf_loader_get_pixbuf(loader)
                            : nullptr;
    if (pixbuf) g_object_ref(pixbuf);
    g_object_unref(loader);
    if (check.refused) LogInfo("refused a picture of more than {} pixels", maxPixels);
    if (!pixbuf) return nullptr;
    return std::shared_ptr<GdkPixbuf>(pixbuf, [](GdkPixbuf* p) { g_object_unref(p); });
}
