#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "data/helpers/PictureLoader.h"
#include "media/RgbaImage.h"

namespace media {

// Encoded pictures in and PNG out. The one place this library touches an image codec, so that
// it can move onto the shared image helpers later without its callers noticing.
class PictureCodec {
public:
    // A JPEG or PNG picture; nullopt for anything else and for pictures larger than
    // kMaxPixels, which are refused before they are decoded.
    static std::optional<RgbaImage> decode(std::span<const std::uint8_t> bytes);
    static std::optional<std::vector<std::uint8_t>> encodePNG(const RgbaImage& image);

    static constexpr std::int64_t kMaxPixels = PictureLoader::kMaxPixels;
};

}  // namespace media
