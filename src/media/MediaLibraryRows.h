#pragma once

#include <array>
#include <cstddef>
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

    // A record of the current row: "pid", "pidstr" and the columns of the shape.
    foundation::Value record() const;
    // The row's persistent id, genre id and media type (0 without the column).
    std::int64_t pid() const;
    std::int64_t genreId() const;
    std::int64_t mediaType() const;
    bool hasColumn(std::string_view name) const;
    std::int64_t int64(std::string_view name) const;

private:
    static constexpr std::size_t kMaxColumns = 48;
    int index(std::string_view name) const;

    const Shape shape_;
    SqlResultSet& rows_;
    std::array<int, kMaxColumns> indexes_{};
    int mediaTypeIndex_ = -1;
    int genreIdIndex_ = -1;
};

}  // namespace media
