#include "media/MediaLibraryRows.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <iterator>
#include <span>
#include <string>
#include <vector>

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
    artworkCacheIdIndex_ = index("artwork_cache_id");
    kindIndex_ = index("media_kind");
    songIndex_ = index("is_song");
    podcastIndex_ = index("is_podcast");
    movieIndex_ = index("is_movie");
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

std::int64_t MediaLibraryRows::artworkCacheId() const {
    return artworkCacheIdIndex_ < 0 ? 0 : rows_.intForColumnIndex(artworkCacheIdIndex_);
}

namespace {

// Where a record's entry comes from.
enum class Source { Pid, PidText, Column, Joined, Song, Podcast, Movie };
enum JoinedEntry : std::size_t { Size, MediaType, Location, Genre, FileType, Artwork, JoinedCount };
constexpr std::string_view kJoinedKeys[] = {"size",  "media_type", "location",
                                            "genre", "fileType",   "artwork_relative_path"};
static_assert(std::size(kJoinedKeys) == JoinedCount);

struct Entry {
    std::string_view key;
    Source source;
    std::size_t at = 0;  // the column or joined entry
};

// A shape's record entries in key order, so that a record is built front to back without a
// search. A key the row has and a table joins too is the row's; the kind flags are decided
// before the record is built.
std::vector<Entry> entriesInKeyOrder(MediaLibraryRows::Shape shape) {
    const auto columns = columnsOf(shape);
    std::vector<Entry> entries{{"pid", Source::Pid}, {"pidstr", Source::PidText}};
    auto find = [&](std::string_view key) {
        return std::find_if(entries.begin(), entries.end(),
                            [&](const Entry& entry) { return entry.key == key; });
    };
    for (std::size_t i = 0; i < columns.size(); ++i) {
        entries.push_back({columns[i].key, Source::Column, i});
    }
    for (std::size_t i = 0; i < JoinedCount; ++i) {
        if (find(kJoinedKeys[i]) == entries.end()) {
            entries.push_back({kJoinedKeys[i], Source::Joined, i});
        }
    }
    for (const Entry& flag : {Entry{"is_song", Source::Song}, Entry{"is_podcast", Source::Podcast},
                              Entry{"is_movie", Source::Movie}}) {
        if (const auto found = find(flag.key); found != entries.end()) {
            found->source = flag.source;
        } else {
            entries.push_back(flag);
        }
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

// "%llX" of the number.
std::string upperHex(std::uint64_t value) {
    char digits[16];
    const auto end = std::to_chars(std::begin(digits), std::end(digits), value, 16).ptr;
    for (char* c = digits; c != end; ++c) {
        if (*c >= 'a') *c = static_cast<char>(*c - 'a' + 'A');
    }
    return std::string(digits, end);
}

bool containsWord(std::string_view lowerText, std::string_view word) {
    return lowerText.find(word) != std::string_view::npos;
}

std::string lowerCased(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

}  // namespace

bool MediaLibraryRows::flagOfColumn(int index) const {
    return index >= 0 && rows_.boolForColumnIndex(index);
}

Value MediaLibraryRows::record(Joined joined) const {
    const auto columns = columnsOf(shape_);
    const std::int64_t pid = this->pid();

    // The kind flags. In the media library the kind decides songs and makes good a podcast
    // flag left off, and a movie is only ever marked, never unmarked.
    bool song = false, podcast = false, movie = false;
    if (shape_ == Shape::MediaLibrary) {
        const std::int32_t kind = kindIndex_ < 0 ? 0 : rows_.intForColumnIndex(kindIndex_);
        song = kind == 1;
        podcast = flagOfColumn(podcastIndex_) || kind == 6;
        // The genre's words count in the media library only.
        if (joined.genre && !joined.genre->empty()) {
            const std::string lower = lowerCased(*joined.genre);
            podcast = podcast || containsWord(lower, "podcast");
            song = song || (containsWord(lower, "audio") && !containsWord(lower, "book"));
            movie = containsWord(lower, "mpeg-4") || containsWord(lower, "video");
        }
    } else {
        song = flagOfColumn(songIndex_);
        podcast = flagOfColumn(podcastIndex_);
        movie = flagOfColumn(movieIndex_);
    }
    const std::int32_t type = static_cast<std::int32_t>(joined.mediaType.value_or(0));
    song = song || type == 1;
    movie = movie || type == 2;
    podcast = podcast || type == 4;

    foundation::Dictionary record;
    auto put = [&](std::string_view key, auto&& value) {
        record.emplace_hint(record.end(), std::piecewise_construct, std::forward_as_tuple(key),
                            std::forward_as_tuple(std::forward<decltype(value)>(value)));
    };
    for (const Entry& entry : keyOrder(shape_)) {
        switch (entry.source) {
            case Source::Pid:
                put(entry.key, pid);
                break;
            case Source::PidText:
                put(entry.key, upperHex(static_cast<std::uint64_t>(pid)));
                break;
            case Source::Column: {
                const int at = indexes_[entry.at + 1];
                switch (columns[entry.at].kind) {
                    case Kind::Text:
                        put(entry.key,
                            std::string(at < 0 ? std::string_view()
                                               : rows_.stringViewForColumnIndex(at).value_or("")));
                        break;
                    case Kind::Int32:
                        put(entry.key, at < 0 ? 0 : rows_.intForColumnIndex(at));
                        break;
                    case Kind::Int64:
                        put(entry.key, at < 0 ? std::int64_t{0} : rows_.longForColumnIndex(at));
                        break;
                    case Kind::Bool:
                        put(entry.key, at >= 0 && rows_.boolForColumnIndex(at));
                        break;
                }
                break;
            }
            case Source::Song:
                put(entry.key, song);
                break;
            case Source::Podcast:
                put(entry.key, podcast);
                break;
            case Source::Movie:
                // Media library records carry no movie flag until something marks one.
                if (movie || shape_ == Shape::LibraryGroup) put(entry.key, movie);
                break;
            case Source::Joined:
                switch (static_cast<JoinedEntry>(entry.at)) {
                    case Size:
                        if (joined.size) put(entry.key, std::move(*joined.size));
                        break;
                    case MediaType:
                        if (joined.mediaType) put(entry.key, *joined.mediaType);
                        break;
                    case Location:
                        put(entry.key, std::move(joined.location));
                        break;
                    case Genre:
                        if (joined.genre) put(entry.key, *joined.genre);
                        break;
                    case FileType:
                        if (joined.fileType) put(entry.key, *joined.fileType);
                        break;
                    case Artwork:
                        if (joined.artworkPath) put(entry.key, std::move(*joined.artworkPath));
                        break;
                    case JoinedCount:
                        break;
                }
                break;
        }
    }
    return Value(std::move(record));
}

}  // namespace media
