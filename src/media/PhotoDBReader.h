#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "foundation/Value.h"
#include "media/ByteCursor.h"

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

    // Two record readers the walk has no use for. An "mhaf" record: its header stepped over,
    // an empty dictionary; nullopt (logged) when the header cannot be read.
    static std::optional<foundation::Value> readMHAF(ByteCursor& cursor);
    // A data record whose string body names its own encoding, a number after the string's
    // length (0 and 1 UTF-8, 2 UTF-16 little-endian): the text of a record of type 3. Nullopt
    // for any other type, a text that does not decode, an encoding of 3 or more (logged
    // "Wrong encoding") or a record that cannot be read (logged). The cursor steps over the
    // whole record whenever its lengths hold.
    static std::optional<std::string> readMHODString(ByteCursor& cursor);

    // Image-name records nest through data records; deeper nesting than this is refused.
    static constexpr int kMaxDepth = 8;

private:
    std::string dbPath_;
    foundation::Value photos_;
};

}  // namespace media
