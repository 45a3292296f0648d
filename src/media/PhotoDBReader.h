#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "foundation/Value.h"

namespace media {

// Reader of the artwork database and the photo database, which share one record grammar. The
// result (`photos`) holds "ImageList" (image id text -> image with its "subImages"),
// "AlbumList" and "CorrelationInfo" (the image files). Lengths are checked against the record's
// parent and the file; a bad record ends the list it is in and what came before it is kept.
class PhotoDBReader {
public:
    explicit PhotoDBReader(std::string dbPath);

    // Empties the result and walks the file; a missing file leaves it empty.
    void load();
    // The same walk over bytes already in memory.
    void loadBytes(std::span<const std::uint8_t> bytes);

    const std::string& dbPath() const { return dbPath_; }
    const foundation::Value& photos() const { return photos_; }

    // Image-name records nest through data records; deeper nesting than this is refused.
    static constexpr int kMaxDepth = 8;

private:
    std::string dbPath_;
    foundation::Value photos_;
};

}  // namespace media
