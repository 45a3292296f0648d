// Track artwork, read from the device piece by piece where the artwork database points, and
// the rules and decoders the pictures go through.
#include <algorithm>

#include "media/CorrelationRules.h"
#include "media/DevicePictureAccess.h"
#include "media/MediaLoader.h"
#include "media/ThumbnailDecoder.h"

namespace media {

template <typename Read>
std::optional<RgbaImage> MediaLoader::withArtworks(Read read) const {
    const std::shared_ptr<MediaDevice> device = myDevice();
    if (!device) return std::nullopt;
    std::shared_ptr<const foundation::Value> artworks;
    bool iOS7 = false;
    {
        std::lock_guard lock(lock_);
        artworks = allArtworks_;
        iOS7 = flags_.iOS7;
    }
    return read(*artworks, devicePictureAccess(device, iOS7));
}

std::optional<RgbaImage> MediaLoader::artworkForTrack(const foundation::Value& track) const {
    return withArtworks([&](const foundation::Value& artworks, const auto& access) {
        return ArtworkImage::artworkForTrack(track, artworks, access);
    });
}

std::optional<RgbaImage> MediaLoader::artworkForTrackByIDFullsize(std::int64_t artworkID,
                                                                  bool fullsize) const {
    return withArtworks([&](const foundation::Value& artworks, const auto& access) {
        return ArtworkImage::artworkForTrackByID(artworkID, fullsize, artworks, access);
    });
}

std::optional<std::vector<std::uint8_t>> MediaLoader::artworkData(
    const foundation::Value& subImage) const {
    const std::shared_ptr<MediaDevice> device = myDevice();
    if (!device) return std::nullopt;
    const auto access = devicePictureAccess(device, libraryFlags().iOS7);
    const auto path = ArtworkImage::artworkFilePath(subImage, access);
    if (!path) return std::nullopt;
    return ArtworkImage::dataForImage(subImage, *path, access.readRange);
}

std::optional<std::vector<std::uint8_t>> MediaLoader::dataForImageFromFile(
    const foundation::Value& subImage, const std::string& devicePath) const {
    const std::shared_ptr<MediaDevice> device = myDevice();
    if (!device) return std::nullopt;
    return ArtworkImage::dataForImage(subImage, devicePath,
                                      devicePictureAccess(device, false).readRange);
}

std::uint32_t MediaLoader::fullsizeCorrelationIDForPhoto(const foundation::Value& image) {
    return CorrelationRules::fullsizeCorrelationIDForPhoto(image);
}

std::uint32_t MediaLoader::correlationIDForThumbnail(const foundation::Value& fileList) {
    return CorrelationRules::correlationIDForThumbnail(fileList);
}

std::uint32_t MediaLoader::correlationIDForFullsize(const foundation::Value& fileList) {
    return CorrelationRules::correlationIDForFullsize(fileList, globalFullSizeCorrelationID());
}

std::optional<RgbaImage> MediaLoader::ImageFromRGB555WidthHeight(
    std::span<const std::uint8_t> pixels, int width, int height) {
    return ThumbnailDecoder::ImageFromRGB555(pixels, width, height);
}

std::optional<RgbaImage> MediaLoader::ImageFromRGB565WidthHeight(
    std::span<const std::uint8_t> pixels, int width, int height) {
    return ThumbnailDecoder::ImageFromRGB565(pixels, width, height);
}

std::optional<RgbaImage> MediaLoader::ImageFromUYVYDataSizeWidthHeight(
    std::span<const std::uint8_t> pixels, std::size_t dataSize, int width, int height) {
    return ThumbnailDecoder::ImageFromUYVY(pixels.first(std::min(dataSize, pixels.size())), width,
                                           height);
}

std::optional<std::vector<std::uint8_t>> MediaLoader::YUY2toRGBWithByteArrayWidthHeight(
    std::span<const std::uint8_t> pixels, int width, int height) {
    return ThumbnailDecoder::YUY2toRGB(pixels, width, height);
}

std::optional<std::vector<std::uint8_t>> MediaLoader::YV12toRGBWithByteArrayWidthHeight(
    std::span<const std::uint8_t> pixels, int width, int height) {
    return ThumbnailDecoder::YV12toRGB(pixels, width, height);
}

}  // namespace media
