// Photos of the photo database, read from the device where the database points.
#include "media/DevicePictureAccess.h"
#include "media/MediaLoader.h"

namespace media {

std::optional<std::vector<std::uint8_t>> MediaLoader::photoDataAtPath(
    const std::string& devicePath) const {
    const auto device = myDevice();
    if (!device) return std::nullopt;
    return devicePictureAccess(device, false).readFile(devicePath);
}

std::optional<std::vector<std::uint8_t>> MediaLoader::dataForImage(
    const foundation::Value& subImage) const {
    const auto device = myDevice();
    const auto path = ArtworkImage::photoFilePath(subImage);
    if (!device || !path) return std::nullopt;
    return ArtworkImage::dataForImage(subImage, *path,
                                      devicePictureAccess(device, false).readRange);
}

std::optional<std::string> MediaLoader::imageNameByID(std::int64_t photoID) const {
    std::shared_ptr<const foundation::Value> photos;
    {
        std::lock_guard lock(lock_);
        photos = allPodPhotos_;
    }
    const foundation::Value& image = (*photos)["ImageList"][std::to_string(photoID)];
    if (!image.isDictionary()) return std::nullopt;
    return ArtworkImage::photoFileName(image);
}

std::optional<RgbaImage> MediaLoader::fullImageByID(std::int64_t photoID) const {
    return imageByIDFullsize(photoID, true);
}

std::optional<RgbaImage> MediaLoader::imageByIDFullsize(std::int64_t photoID, bool fullsize) const {
    const auto device = myDevice();
    if (!device) return std::nullopt;
    std::shared_ptr<const foundation::Value> photos;
    {
        std::lock_guard lock(lock_);
        photos = allPodPhotos_;
    }
    return ArtworkImage::imageByID(photoID, fullsize, *photos, devicePictureAccess(device, false));
}

}  // namespace media
