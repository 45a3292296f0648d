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

    // The record readers of the walk, each over a cursor at its record, which it steps over.
    // Nullopt (logged "Failed to read in ...") when the record's fixed part cannot be read.
    // The file header: the number of sections after it (0 or less: none).
    static std::optional<std::int32_t> readMHFD(ByteCursor& file);
    // A section: its type (1 images, 2 albums, 3 files), with `section` over what it holds.
    static std::optional<std::uint32_t> readMHSDIndexType(ByteCursor& file, ByteCursor& section);
    // The lists at the start of a section's contents: the images by their id as text, the
    // albums and the image files in file order. An entry that cannot be read ends its list.
    static std::optional<foundation::Value> readMHLI(ByteCursor& section);
    static std::optional<foundation::Value> readMHLA(ByteCursor& section);
    static std::optional<foundation::Value> readMHLF(ByteCursor& section);
    // An image with its "subImages" by correlation id; an album {"name", "items"}; an image
    // file {"correlationID", "imageSize"}; an image name (one stored size) with what its
    // data records hold; an album item's image id.
    static std::optional<foundation::Value> readMHII(ByteCursor& cursor);
    static std::optional<foundation::Value> readMHBA(ByteCursor& cursor);
    static std::optional<foundation::Value> readMHIF(ByteCursor& cursor);
    static std::optional<foundation::Value> readMHNI(ByteCursor& cursor);
    static std::optional<foundation::Value> readMHIA(ByteCursor& cursor);
    // A data record: {"mhodString"} for text, an image name's entries, or an empty dictionary.
    static std::optional<foundation::Value> readMHOD(ByteCursor& cursor);
    // A data record's body, after its header, read by the record's type.
    static foundation::Value readMHODDataFileHandle(std::uint16_t type, ByteCursor& body);

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
