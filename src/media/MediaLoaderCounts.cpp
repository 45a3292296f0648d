// Counts of a loaded library: photos by album, songs and videos with their sizes.
#include <charconv>

#include "media/MediaLoader.h"

using foundation::Value;

namespace media {

namespace {

bool flag(const Value& record, const char* key) {
    return record[key].toBool().value_or(false);
}

// Calls `count(isSong, record)` for every song and every video.
template <typename Count>
void splitSongsVideos(const MediaLoader::TrackRecords& tracks, Count count) {
    for (const auto& track : tracks) {
        const Value& record = *track;
        if (flag(record, "is_song")) {
            count(true, record);
        } else if (flag(record, "is_movie") || flag(record, "is_tv_show") ||
                   flag(record, "is_podcast")) {
            count(false, record);
        }
    }
}

// Sizes are numbers, or the text a Library.itdb group stores; read whole, since videos
// of 2 GiB and more are common.
std::uint64_t sizeOf(const Value& size) {
    if (const auto* whole = size.uint64()) return *whole;
    if (const auto* text = size.string()) {
        std::uint64_t bytes = 0;
        std::from_chars(text->data(), text->data() + text->size(), bytes);
        return bytes;
    }
    const auto bytes = size.toInt64().value_or(0);
    return bytes > 0 ? static_cast<std::uint64_t>(bytes) : 0;
}

}  // namespace

std::int32_t MediaLoader::numOfPhotos() const {
    const Value albums = allAlbums();
    const auto cameraRoll = allDCIMPhotos();
    std::size_t photos = 0;
    if (const auto* list = albums.array()) {
        for (const Value& album : *list) {
            photos += flag(album, "dcim") ? cameraRoll->size() : album["images"].size();
        }
    }
    return static_cast<std::int32_t>(photos);
}

void MediaLoader::numOfSongsVideos(std::int32_t* songs, std::int32_t* videos) const {
    std::int32_t songCount = 0;
    std::int32_t videoCount = 0;
    splitSongsVideos(*allTracks(),
                     [&](bool isSong, const Value&) { ++(isSong ? songCount : videoCount); });
    if (songs) *songs = songCount;
    if (videos) *videos = videoCount;
}

void MediaLoader::sizeOfSongsVideos(std::uint64_t* songs, std::uint64_t* videos) const {
    std::uint64_t songBytes = 0;
    std::uint64_t videoBytes = 0;
    splitSongsVideos(*allTracks(), [&](bool isSong, const Value& record) {
        (isSong ? songBytes : videoBytes) += sizeOf(record["size"]);
    });
    if (songs) *songs = songBytes;
    if (videos) *videos = videoBytes;
}

}  // namespace media
