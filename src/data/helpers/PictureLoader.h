#pragma once

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

// Decodes the pictures that devices and the resource pack carry, PNG and JPEG, and nothing
// else: other gdk-pixbuf loaders (SVG, TIFF ...) are far larger attack surfaces and one
// small filtered SVG can run for ever. The size the header announces is checked before any
// pixel memory is taken.
class PictureLoader {
public:
    enum class Format { Unknown, PNG, JPEG };

    // 64 Mi pixels: 256 MiB as RGBA, more than any device or page picture.
    static constexpr std::int64_t kMaxPixels = 64ll * 1024 * 1024;

    // The format by its signature bytes.
    static Format formatOf(std::span<const std::uint8_t> bytes);
    // The gdk-pixbuf format names the loader accepts ("png", "jpeg").
    static bool acceptsFormatNamed(std::string_view name);

    // The decoded picture; nullptr for another format, damaged data, or more than
    // `maxPixels` pixels.
    static std::shared_ptr<GdkPixbuf> decode(std::span<const std::uint8_t> bytes,
                                             std::int64_t maxPixels = kMaxPixels);
};
