#include "media/ArtworkImage.h"

#include <algorithm>
#include <cctype>

#include "media/CorrelationRules.h"
#include "media/PictureCodec.h"
#include "media/ThumbnailDecoder.h"

namespace media {

namespace {

using foundation::Value;

enum class Layout { RGB555, RGB565, RGB565BigEndian, UYVY, I420, Encoded };

int field(const Value& subImage, const char* key) {
    return static_cast<int>(
        std::min<std::uint64_t>(subImage[key].toUInt64().value_or(0), 1u << 20));
}

int roundUpToEven(int value) {
    return value + (value & 1);
}

std::optional<RgbaImage> decodeRaw(Layout layout, std::span<const std::uint8_t> bytes, int width,
                                   int height) {
    switch (layout) {
        case Layout::RGB555:
            return ThumbnailDecoder::ImageFromRGB555(bytes, width, height);
        case Layout::RGB565:
            return ThumbnailDecoder::ImageFromRGB565(bytes, width, height);
        case Layout::RGB565BigEndian:
            return ThumbnailDecoder::ImageFromRGB565BigEndian(bytes, width, height);
        case Layout::UYVY:
            return ThumbnailDecoder::ImageFromUYVY(bytes, width, height);
        case Layout::I420:
            return ThumbnailDecoder::ImageFromI420(bytes, width, height);
        case Layout::Encoded:
            return PictureCodec::decode(bytes);
    }
    return std::nullopt;
}

// Whether a name from a database would leave the folder it is meant for. A NUL ends the
// name for the file layer below, so "..\0" would read as "..".
bool climbsOut(const std::string& path) {
    if (path.find('\0') != std::string::npos) return true;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        if (path.compare(start, end - start, "..") == 0 && end - start == 2) return true;
        start = end + 1;
    }
    return false;
}

std::optional<std::string> nameUnder(const std::string& folder, const Value& name) {
    const std::string* text = name.string();
    if (text == nullptr || text->empty()) return std::nullopt;
    std::string relative = *text;
    std::replace(relative.begin(), relative.end(), ':', '/');
    if (climbsOut(relative)) return std::nullopt;
    if (relative.front() != '/') relative.insert(relative.begin(), '/');
    return folder + relative;
}

const Value& subImageFor(const Value& image, std::uint32_t formatID) {
    return image["subImages"][std::to_string(static_cast<std::int32_t>(formatID))];
}

}  // namespace

std::optional<RgbaImage> ArtworkImage::artworkFromBytes(const Value& subImage,
                                                        std::span<const std::uint8_t> bytes,
                                                        std::uint32_t formatID) {
    if (bytes.empty()) return std::nullopt;
    const int width = field(subImage, "imageWidth");
    const int height = field(subImage, "imageHeight");
    const bool sameSizes = subImage["imageSize"].toUInt64() == subImage["imageSize2"].toUInt64();
    if (width == 0 || height == 0 || sameSizes) {
        if (auto picture = PictureCodec::decode(bytes)) return picture;
        if (width == 0 || height == 0) return std::nullopt;
    }
    int gridWidth = width + field(subImage, "horizontalPadding");
    const int gridHeight = height + field(subImage, "verticalPadding");
    switch (formatID) {
        case 3004:
        case 3011:
            return decodeRaw(Layout::RGB555, bytes, gridWidth, gridHeight);
        case 3005:
        case 3008:
            return decodeRaw(Layout::RGB555, bytes, roundUpToEven(gridWidth), gridHeight);
        default:
            return decodeRaw(Layout::RGB565, bytes, gridWidth, gridHeight);
    }
}

std::optional<RgbaImage> ArtworkImage::photoFromBytes(const Value& subImage,
                                                      std::span<const std::uint8_t> bytes,
                                                      std::uint32_t formatID) {
    if (bytes.empty()) return std::nullopt;
    const int width = field(subImage, "imageWidth");
    const int height = field(subImage, "imageHeight");
    const int horizontal = field(subImage, "horizontalPadding");
    const int vertical = field(subImage, "verticalPadding");
    switch (formatID) {
        case 3004:
        case 3011:
        case 3039:
        case 4032:
            return decodeRaw(Layout::RGB555, bytes, width + horizontal, height + vertical);
        case 4006:
            return decodeRaw(Layout::Encoded, bytes, 0, 0);
        case 1013:
        case 1023:
            return decodeRaw(Layout::RGB565BigEndian, bytes, width + horizontal, height + vertical);
        case 1067:
            return decodeRaw(Layout::I420, bytes, width + horizontal, height + vertical);
        case 1019:
        case 1020:
            return decodeRaw(Layout::UYVY, bytes,
                             std::min(roundUpToEven(width + 2 * horizontal), 720),
                             std::min(roundUpToEven(height + vertical), 480));
        default:
            return decodeRaw(Layout::RGB565, bytes, width + horizontal, height + vertical);
    }
}

std::optional<std::string> ArtworkImage::photoFileName(const Value& image) {
    const std::string* name =
        subImageFor(image, CorrelationRules::fullsizeCorrelationIDForPhoto(image))["mhodString"]
            .string();
    if (name == nullptr) return std::nullopt;
    const std::size_t dot = name->rfind('.');
    std::string extension = dot == std::string::npos ? std::string() : name->substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (name->find(":Full Resolution") == std::string::npos && extension != "jpg") {
        return std::nullopt;
    }
    if (std::count(name->begin(), name->end(), ':') < 2) return std::nullopt;
    return name->substr(name->rfind(':') + 1);
}

std::optional<std::string> ArtworkImage::artworkFilePath(const Value& subImage,
                                                         const Device& device) {
    const std::string folder =
        device.controlFolder + (device.iOS7 ? "/iTunes/Artwork" : "/Artwork");
    return nameUnder(folder, subImage["mhodString"]);
}

std::optional<std::string> ArtworkImage::photoFilePath(const Value& subImage) {
    return nameUnder("/Photos", subImage["mhodString"]);
}

std::optional<ArtworkImage::Bytes> ArtworkImage::dataForImage(const Value& subImage,
                                                              const std::string& devicePath,
                                                              const ReadRange& readRange) {
    auto offset = subImage["iThumbOffSet"].toUInt64();
    auto size = subImage["imageSize"].toUInt64();
    if (!offset || !size || !readRange) return std::nullopt;
    // No stored picture comes near this; a larger size is a damaged entry, not a request to
    // read a whole image file into memory.
    if (*size > kMaxPictureBytes) return std::nullopt;
    return readRange(devicePath, *offset, static_cast<std::uint32_t>(*size));
}

std::optional<RgbaImage> ArtworkImage::artworkForTrackByID(std::int64_t artworkID, bool fullsize,
                                                           const Value& artworks,
                                                           const Device& device) {
    const Value& image = artworks["ImageList"][std::to_string(artworkID)];
    if (!image.isDictionary()) return std::nullopt;
    const std::uint32_t formatID =
        fullsize ? CorrelationRules::fullsizeCorrelationIDForPhoto(image)
                 : CorrelationRules::correlationIDForThumbnail(artworks["CorrelationInfo"]);
    const Value& subImage = subImageFor(image, formatID);
    auto path = artworkFilePath(subImage, device);
    if (!path) return std::nullopt;
    auto bytes = dataForImage(subImage, *path, device.readRange);
    if (!bytes) return std::nullopt;
    return artworkFromBytes(subImage, *bytes, formatID);
}

std::optional<RgbaImage> ArtworkImage::artworkForTrack(const Value& track, const Value& artworks,
                                                       const Device& device) {
    const std::int64_t artworkID = track["artwork_cache_id"].toInt64().value_or(0);
    if (auto picture = artworkForTrackByID(artworkID, true, artworks, device)) return picture;
    auto path = nameUnder(device.controlFolder + "/iTunes/Artwork/Originals",
                          track["artwork_relative_path"]);
    if (!path || !device.readFile) return std::nullopt;
    auto bytes = device.readFile(*path);
    if (!bytes) return std::nullopt;
    return PictureCodec::decode(*bytes);
}

std::optional<RgbaImage> ArtworkImage::imageByID(std::int64_t photoID, bool fullsize,
                                                 const Value& photos, const Device& device) {
    const Value& image = photos["ImageList"][std::to_string(photoID)];
    if (!image.isDictionary()) return std::nullopt;
    const std::uint32_t formatID =
        fullsize ? CorrelationRules::fullsizeCorrelationIDForPhoto(image)
                 : CorrelationRules::correlationIDForThumbnail(photos["CorrelationInfo"]);
    const Value& subImage = subImageFor(image, formatID);
    auto path = photoFilePath(subImage);
    if (!path) return std::nullopt;
    auto bytes = dataForImage(subImage, *path, device.readRange);
    if (!bytes) return std::nullopt;
    return photoFromBytes(subImage, *bytes, formatID);
}

}  // namespace media
