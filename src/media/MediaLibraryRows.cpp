#include "media/MediaLibraryRows.h"

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "data/db/SqlResultSet.h"

using foundation::Value;

namespace media {

namespace {

enum class Kind { Text, Int32, Int64, Bool };
struct Column {
    std::string_view column;
    std::string_view key;
    Kind kind;
};

// The media library's columns after "pid": texts are stored even when empty.
constexpr Column kMediaLibraryColumns[] = {
    {"media_kind", "media_kind", Kind::Int32},
    {"title", "title", Kind::Text},
    {"item_artist", "artist", Kind::Text},
    {"album", "album", Kind::Text},
    {"total_time_ms", "length", Kind::Int32},
    {"track_number", "trackNumber", Kind::Int32},
    {"track_count", "totalTracks", Kind::Int32},
    {"year", "year", Kind::Int32},
    {"artwork_cache_id", "artwork_cache_id", Kind::Int32},
    {"is_audible_audio_book", "is_audio_book", Kind::Bool},
    {"is_itunes_u", "is_itunes_u", Kind::Bool},
    {"is_podcast", "is_podcast", Kind::Bool},
    {"is_compilation", "is_compilation", Kind::Bool},
    {"content_rating", "content_rating", Kind::Int32},
    {"content_rating_level", "content_rating_level", Kind::Int32},
    {"disc_number", "disc_number", Kind::Int32},
    {"disc_count", "disc_count", Kind::Int32},
    {"category_id", "category_id", Kind::Int32},
    {"album_artist", "album_artist", Kind::Text},
    {"composer", "composer", Kind::Text},
    {"comment", "comment", Kind::Text},
    {"description", "description", Kind::Text},
    {"description_long", "description_long", Kind::Text},
    {"sample_rate", "sampleRate", Kind::Int32},
    {"bit_rate", "bitRate", Kind::Int32},
    {"user_rating", "stars", Kind::Int32},
    {"play_count_user", "playCount", Kind::Int32},
    // Files of 2 GiB and more exist: the size is read whole.
    {"file_size", "size", Kind::Int64},
    {"location", "filename", Kind::Text},
};

// The Library.itdb item table's columns after "pid".
constexpr Column kGroupColumns[] = {
    {"title", "title", Kind::Text},
    {"artist", "artist", Kind::Text},
    {"album", "album", Kind::Text},
    {"album_artist", "album_artist", Kind::Text},
    {"composer", "composer", Kind::Text},
    {"comment", "comment", Kind::Text},
    {"grouping", "grouping", Kind::Text},
    {"description", "description", Kind::Text},
    {"description_long", "description_long", Kind::Text},
    {"total_time_ms", "length", Kind::Int64},
    {"track_count", "totalTracks", Kind::Int32},
    {"track_number", "trackNumber", Kind::Int32},
    {"year", "year", Kind::Int32},
    {"is_song", "is_song", Kind::Bool},
    {"is_audio_book", "is_audio_book", Kind::Bool},
    {"is_music_video", "is_music_video", Kind::Bool},
    {"is_movie", "is_movie", Kind::Bool},
    {"is_tv_show", "is_tv_show", Kind::Bool},
    {"is_ringtone", "is_ringtone", Kind::Bool},
    {"is_itunes_u", "is_itunes_u", Kind::Bool},
    {"is_podcast", "is_podcast", Kind::Bool},
    {"is_voice_memo", "is_voice_memo", Kind::Bool},
    {"is_compilation", "is_compilation", Kind::Bool},
    {"content_rating", "content_rating", Kind::Int32},
    {"content_rating_level", "content_rating_level", Kind::Int32},
    {"artwork_status", "artwork_status", Kind::Int32},
    {"artwork_cache_id", "artwork_cache_id", Kind::Int32},
    {"disc_number", "disc_number", Kind::Int32},
    {"disc_count", "disc_count", Kind::Int32},
    {"category_id", "category_id", Kind::Int32},
};

template <std::size_t N>
constexpr std::size_t count(const Column (&)[N]) {
    return N;
}

std::span<const Column> columnsOf(MediaLibraryRows::Shape shape) {
    if (shape == MediaLibraryRows::Shape::MediaLibrary) return kMediaLibraryColumns;
    return kGroupColumns;
}

}  // namespace

MediaLibraryRows::MediaLibraryRows(Shape shape, SqlResultSet& rows) : shape_(shape), rows_(rows) {
    static_assert(count(kMediaLibraryColumns) + 1 <= kMaxColumns);
    static_assert(count(kGroupColumns) + 1 <= kMaxColumns);
    const auto columns = columnsOf(shape);
    indexes_[0] = index(shape == Shape::MediaLibrary ? "item_pid" : "pid");
    for (std::size_t i = 0; i < columns.size(); ++i) indexes_[i + 1] = index(columns[i].column);
    mediaTypeIndex_ = index("media_type");
    genreIdIndex_ = index("genre_id");
}

int MediaLibraryRows::index(std::string_view name) const {
    const auto& map = rows_.columnNameToIndexMap();
    const auto found = map.find(name);
    return found == map.end() ? -1 : found->second;
}

bool MediaLibraryRows::hasColumn(std::string_view name) const {
    return index(name) >= 0;
}

std::int64_t MediaLibraryRows::int64(std::string_view name) const {
    const int at = index(name);
    return at < 0 ? 0 : rows_.longForColumnIndex(at);
}

std::int64_t MediaLibraryRows::pid() const {
    return indexes_[0] < 0 ? 0 : rows_.longForColumnIndex(indexes_[0]);
}

std::int64_t MediaLibraryRows::genreId() const {
    return genreIdIndex_ < 0 ? 0 : rows_.longForColumnIndex(genreIdIndex_);
}

std::int64_t MediaLibraryRows::mediaType() const {
    return mediaTypeIndex_ < 0 ? 0 : rows_.longForColumnIndex(mediaTypeIndex_);
}

namespace {

// Where a record's entry comes from: "pid", "pidstr", a column of the shape, or (media
// library) the song flag the kind decides.
constexpr std::size_t kPidSlot = 0;
constexpr std::size_t kPidTextSlot = 1;
constexpr std::size_t kFirstColumnSlot = 2;

struct Entry {
    std::string_view key;
    std::size_t slot;
};

// The entries of a shape's record in key order, so that a record is built front to back.
std::vector<Entry> entriesInKeyOrder(MediaLibraryRows::Shape shape) {
    const auto columns = columnsOf(shape);
    std::vector<Entry> entries{{"pid", kPidSlot}, {"pidstr", kPidTextSlot}};
    for (std::size_t i = 0; i < columns.size(); ++i) {
        entries.push_back({columns[i].key, kFirstColumnSlot + i});
    }
    if (shape == MediaLibraryRows::Shape::MediaLibrary) {
        entries.push_back({"is_song", kFirstColumnSlot + columns.size()});
    }
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.key < b.key; });
    return entries;
}

const std::vector<Entry>& keyOrder(MediaLibraryRows::Shape shape) {
    static const std::vector<Entry> mediaLibrary =
        entriesInKeyOrder(MediaLibraryRows::Shape::MediaLibrary);
    static const std::vector<Entry> group =
        entriesInKeyOrder(MediaLibraryRows::Shape::LibraryGroup);
    return shape == MediaLibraryRows::Shape::MediaLibrary ? mediaLibrary : group;
}

std::size_t slotOfColumn(std::span<const Column> columns, std::string_view name) {
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (columns[i].column == name) return kFirstColumnSlot + i;
    }
    return kFirstColumnSlot + columns.size();
}

}  // namespace

Value MediaLibraryRows::record() const {
    const auto columns = columnsOf(shape_);
    std::array<Value, kMaxColumns + 1> values;
    const std::int64_t pid = this->pid();
    values[kPidSlot] = pid;
    values[kPidTextSlot] = fmt::format("{:X}", static_cast<std::uint64_t>(pid));
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const int at = indexes_[i + 1];
        Value& value = values[kFirstColumnSlot + i];
        switch (columns[i].kind) {
            case Kind::Text:
                value = at < 0 ? std::string() : rows_.stringForColumnIndex(at).value_or("");
                break;
            case Kind::Int32:
                value = at < 0 ? 0 : rows_.intForColumnIndex(at);
                break;
            case Kind::Int64:
                value = at < 0 ? std::int64_t{0} : rows_.longForColumnIndex(at);
                break;
            case Kind::Bool:
                value = at >= 0 && rows_.boolForColumnIndex(at);
                break;
        }
    }
    if (shape_ == Shape::MediaLibrary) {
        // The kind decides songs; a podcast flag left off is made good by the kind.
        static const std::size_t kindSlot = slotOfColumn(columns, "media_kind");
        static const std::size_t podcastSlot = slotOfColumn(columns, "is_podcast");
        const std::int64_t kind = *values[kindSlot].int64();
        values[kFirstColumnSlot + columns.size()] = kind == 1;
        if (!*values[podcastSlot].boolean()) values[podcastSlot] = kind == 6;
    }
    foundation::Dictionary record;
    for (const Entry& entry : keyOrder(shape_)) {
        record.emplace_hint(record.end(), std::string(entry.key), std::move(values[entry.slot]));
    }
    return Value(std::move(record));
}

}  // namespace media
