#include "media/DevicePictureAccess.h"

namespace media {

ArtworkImage::Device devicePictureAccess(std::shared_ptr<MediaDevice> device, bool iOS7) {
    ArtworkImage::Device access;
    access.controlFolder = device->iTunesControlPath();
    access.iOS7 = iOS7;
    access.readRange = [device](const std::string& path, std::uint64_t offset,
                                std::uint32_t length) {
        return device->readFileAtPathOffsetLength(path, offset, length);
    };
    access.readFile = [device](const std::string& path) -> std::optional<ArtworkImage::Bytes> {
        // A file larger than any picture the codec takes is not read at all.
        const std::uint64_t size = device->getSizeOfItemAtPath(path);
        if (size == 0 || size > ArtworkImage::kMaxPictureBytes) return std::nullopt;
        return device->readFileAtPathOffsetLength(path, 0, size);
    };
    return access;
}

}  // namespace media
