#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "foundation/Value.h"
#include "media/RgbaImage.h"

namespace media {

// Turns entries of the artwork and photo databases into pictures: finds the image file and
// the picture's bytes in it on the device, and decodes them by the file's pixel layout.
class ArtworkImage {
public:
    using Bytes = std::vector<std::uint8_t>;
    // Reads `length` bytes at `offset` of a device file; nullopt when it cannot.
    using ReadRange = std::function<std::optional<Bytes>(
        const std::string& devicePath, std::uint64_t offset, std::uint32_t length)>;
    // Reads a whole device file; nullopt when it cannot.
    using ReadFile = std::function<std::optional<Bytes>(const std::string& devicePath)>;

    struct Device {
        std::string controlFolder;  // the device's iTunes control folder
        bool iOS7 = false;          // artwork lives in "iTunes/Artwork" instead of "Artwork"
        ReadRange readRange;
        ReadFile readFile;
    };

    // The track's artwork from the artwork database ("artwork_cache_id"), else the original
    // picture at its "artwork_relative_path".
    static std::optional<RgbaImage> artworkForTrack(const foundation::Value& track,
                                                    const foundation::Value& artworks,
                                                    const Device& device);
    static std::optional<RgbaImage> artworkForTrackByID(std::int64_t artworkID, bool fullsize,
                                                        const foundation::Value& artworks,
                                                        const Device& device);
    // A photo of the photo database, its largest size or its thumbnail.
    static std::optional<RgbaImage> imageByID(std::int64_t photoID, bool fullsize,
                                              const foundation::Value& photos,
                                              const Device& device);

    // The photo's file name: the last colon-separated part of the name of its largest
    // sub-image's image file, when that names a full-resolution or JPEG picture in at least
    // three parts; nullopt otherwise.
    static std::optional<std::string> photoFileName(const foundation::Value& image);

    // The device path of a sub-image's image file; nullopt when the name is missing, climbs
    // out of the artwork folder with "..", or holds a NUL.
    static std::optional<std::string> artworkFilePath(const foundation::Value& subImage,
                                                      const Device& device);
    static std::optional<std::string> photoFilePath(const foundation::Value& subImage);
    // The picture's bytes: "imageSize" bytes at "iThumbOffSet" of the file; nothing for a size
    // above kMaxPictureBytes.
    static constexpr std::uint64_t kMaxPictureBytes = 64ull * 1024 * 1024;
    static std::optional<Bytes> dataForImage(const foundation::Value& subImage,
                                             const std::string& devicePath,
                                             const ReadRange& readRange);

    // Builds the picture of a sub-image from its bytes: an encoded picture when the sub-image
    // says so, else raw pixels in the artwork or photo layout of its format id.
    static std::optional<RgbaImage> artworkFromBytes(const foundation::Value& subImage,
                                                     std::span<const std::uint8_t> bytes,
                                                     std::uint32_t formatID);
    static std::optional<RgbaImage> photoFromBytes(const foundation::Value& subImage,
                                                   std::span<const std::uint8_t> bytes,
                                                   std::uint32_t formatID);
};

}  // namespace media
