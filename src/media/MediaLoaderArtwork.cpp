// Track artwork, read from the device piece by piece where the artwork database points.
#include "media/DevicePictureAccess.h"
#include "media/MediaLoader.h"

namespace media {

std::optional<RgbaImage> MediaLoader::artworkForTrack(const foundation::Value& track) const {
    const std::shared_ptr<MediaDevice> device = myDevice();
    if (!device) return std::nullopt;
    std::shared_ptr<const foundation::Value> artworks;
    bool iOS7 = false;
    {
        std::lock_guard lock(lock_);
        artworks = allArtworks_;
        iOS7 = flags_.iOS7;
    }
    return ArtworkImage::artworkForTrack(track, *artworks, devicePictureAccess(device, iOS7));
}

}  // namespace media
