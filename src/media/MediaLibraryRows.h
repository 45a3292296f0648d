#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "foundation/Value.h"

class SqlResultSet;

namespace media {

// The row readers of the two SQLite library shapes. Columns are found once per result set;
// a column the query does not return reads as 0, false or empty text.
class MediaLibraryRows {
public:
    enum class Shape { MediaLibrary, LibraryGroup };
    MediaLibraryRows(Shape shape, SqlResultSet& rows);

    // What the library's other tables say of the current row's track.
    struct Joined {
        std::optional<std::string> size;         // "size" (group: the text of its location row)
        std::optional<std::int64_t> mediaType;   // "media_type", when the item table has one
        std::string location;                    // "location"
        const std::string* genre = nullptr;      // "genre"
        const std::string* fileType = nullptr;   // "fileType"
        std::optional<std::string> artworkPath;  // "artwork_relative_path"
    };
    // A record of the current row: "pid", "pidstr", the columns of the shape and the joined
    // entries, with the kind flags the genre's words (media library) and the media type set.
    // Built in key order in one pass: a library has tens of thousands of these.
    foundation::Value record(Joined joined) const;
    // The row's persistent id, genre id and media type (0 without the column).
    std::int64_t pid() const;
    std::int64_t genreId() const;
    std::int64_t mediaType() const;
    // The row's artwork id as a 32-bit number (0 without the column).
    std::int64_t artworkCacheId() const;
    bool hasColumn(std::string_view name) const;
    std::int64_t int64(std::string_view name) const;

private:
    static constexpr std::size_t kMaxColumns = 48;
    int index(std::string_view name) const;
    bool flagOfColumn(int index) const;

    const Shape shape_;
    SqlResultSet& rows_;
    std::array<int, kMaxColumns> indexes_{};
    int mediaTypeIndex_ = -1;
    int genreIdIndex_ = -1;
    int artworkCacheIdIndex_ = -1;
    int kindIndex_ = -1;
    int songIndex_ = -1;
    int podcastIndex_ = -1;
    int movieIndex_ = -1;
};

}  // namespace media
