#pragma once

#include <cstdint>

#include "foundation/Value.h"

namespace media {

// Which stored size of a picture to use. Every image file of the artwork and photo databases
// holds pictures of one size, named by its correlation id.
class CorrelationRules {
public:
    // Over the file list ("CorrelationInfo") in order: the small thumbnail, 0 for an empty list.
    static std::uint32_t correlationIDForThumbnail(const foundation::Value& fileList);
    // The correlation id of the image's largest sub-image; 0 when it has none of any size.
    static std::uint32_t fullsizeCorrelationIDForPhoto(const foundation::Value& image);
    // The id of the largest file in the list, else the fallback recorded at load time.
    static std::uint32_t correlationIDForFullsize(const foundation::Value& fileList,
                                                  std::uint32_t fallback);

    static constexpr std::uint32_t kSmallThumbnailID = 3004;
    // A file of pictures that are never shown as thumbnails, whatever their size.
    static constexpr std::uint32_t kExcludedID = 3143;
};

}  // namespace media
