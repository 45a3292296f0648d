#pragma once

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>

// Image loading over gdk-pixbuf, which needs no display.
namespace NSImage {

// A decoded image; empty when there is none.
using Image = std::shared_ptr<GdkPixbuf>;

// Decodes PNG and JPEG bytes (PictureLoader: other formats and huge pictures are refused).
// PNG-flagged bytes first pass the PNG normaliser, so device-style PNG decodes too; when it
// gives nothing the bytes go to the decoder as they are. Empty when the decoder refuses them.
Image safeImageWithDataIsPNG(std::span<const std::uint8_t> data, bool isPNG);

// Whether the path's extension (its whole last component when it has none) names a type the
// decoder reads (PNG, JPEG), compared exactly, or is "iTunesArtwork".
bool SupportFileAtPath(const std::string& path);

// Supported as above, and "iTunesArtwork" or an extension that is "png" in any case.
bool IsPNGFileAtPath(const std::string& path);

}  // namespace NSImage
