#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "media/RgbaImage.h"

namespace media {

// Decoders of the raw pixel layouts the devices store thumbnails in. None trusts its
// dimensions: each answers nullopt when a dimension is not positive or above kMaxDimension, or
// when the bytes are fewer than the layout needs.
class ThumbnailDecoder {
public:
    using Bytes = std::span<const std::uint8_t>;
    static constexpr int kMaxDimension = 4096;

    // 16-bit little-endian pixels in rows of the width rounded up to even; the extra pixel of
    // an odd row is skipped.
    static std::optional<RgbaImage> ImageFromRGB555(Bytes pixels, int width, int height);
    static std::optional<RgbaImage> ImageFromRGB565(Bytes pixels, int width, int height);
    // The same rows with big-endian pixels, as the older photo formats store them.
    static std::optional<RgbaImage> ImageFromRGB565BigEndian(Bytes pixels, int width, int height);
    // Planar 4:2:0 (I420): the luma plane, then the quarter-size U and V planes.
    static std::optional<RgbaImage> ImageFromI420(Bytes pixels, int width, int height);
    // U, Y0, V, Y1 groups; the first half of the rows are the even output rows, the second
    // half the odd ones. The width must be even.
    static std::optional<RgbaImage> ImageFromUYVY(Bytes pixels, int width, int height);
    // Red, green, blue bytes per pixel.
    static std::optional<std::vector<std::uint8_t>> YUY2toRGB(Bytes pixels, int width, int height);
    // A luma plane, then quarter-size U and V planes.
    static std::optional<std::vector<std::uint8_t>> YV12toRGB(Bytes pixels, int width, int height);

    // One pixel to red, green, blue, 255 in memory order.
    static std::uint32_t RGB555toRGBA(std::uint16_t pixel);
    static std::uint32_t RGB565toRGBA(std::uint16_t pixel);
    static std::uint8_t ucmax(int value);
};

}  // namespace media
