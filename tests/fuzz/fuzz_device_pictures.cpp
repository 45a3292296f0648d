// Pictures read from a device's artwork and photo files: raw pixels in the layout of a format
// id, or encoded PNG and JPEG. Any bytes and any stated sizes must give a picture or nothing.
// Input: format id (2 bytes), width and height (2 each), horizontal and vertical padding
// (1 each), a flag for equal stated sizes, then the picture's bytes.
#include <cstddef>
#include <cstdint>
#include <span>

#include "media/ArtworkImage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kHead = 9;
    if (size < kHead) return 0;
    auto u16 = [&](std::size_t at) { return std::uint32_t(data[at] | (data[at + 1] << 8)); };
    const std::uint32_t formatID = 1000 + u16(0) % 3100;
    const bool sameSizes = data[8] & 1;
    const foundation::Value subImage = foundation::Value::dict({
        {"imageWidth", u16(2)},
        {"imageHeight", u16(4)},
        {"horizontalPadding", std::uint32_t(data[6])},
        {"verticalPadding", std::uint32_t(data[7])},
        {"imageSize", std::uint32_t(size - kHead)},
        {"imageSize2", std::uint32_t(sameSizes ? size - kHead : 0)},
    });
    const std::span<const std::uint8_t> bytes(data + kHead, size - kHead);
    (void)media::ArtworkImage::artworkFromBytes(subImage, bytes, formatID);
    (void)media::ArtworkImage::photoFromBytes(subImage, bytes, formatID);
    return 0;
}
