// Track artwork, read from the device piece by piece where the artwork database points.
#include "media/ArtworkImage.h"
#include "media/MediaLoader.h"

namespace media {

std::optional<RgbaImage> MediaLoader::artworkForTrack(const foundation::Value& track) const {
    if (!myDevice_) return std::nullopt;
    std::shared_ptr<const foundation::Value> artworks;
    bool iOS7 = false;
    {
        std::lock_guard lock(lock_);
        artworks = allArtworks_;
        iOS7 = flags_.iOS7;
    }
    const std::shared_ptr<MediaDevice> device = myDevice_;
    ArtworkImage::Device access;
    access.controlFolder = device->iTunesControlPath();
    access.iOS7 = iOS7;
    access.readRange = [device](const std::string& path, std::uint64_t offset,
                                std::uint32_t length) {
        return device->readFileAtPathOffsetLength(path, offset, length);
    };
    access.readFile = [device](const std::string& path) -> std::optional<ArtworkImage::Bytes> {
        // An original larger than any picture the codec takes is not read at all.
        const std::uint64_t size = device->getSizeOfItemAtPath(path);
        if (size == 0 || size > ArtworkImage::kMaxPictureBytes) return std::nullopt;
        return device->readFileAtPathOffsetLength(path, 0, size);
    };
    return ArtworkImage::artworkForTrack(track, *artworks, access);
}

}  // namespace media
