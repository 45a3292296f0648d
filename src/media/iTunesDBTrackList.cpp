#include "media/iTunesDBTrackList.h"

#include <algorithm>


namespace media {

namespace {

using foundation::Value;

constexpr const char* kTextKeys[iTunesDBTrack::kTexts] = {
    "title", "location", "album", "artist", "genre", "fileType", "comment"};

constexpr std::pair<std::uint8_t, const char*> kKindKeys[] = {
    {iTunesDBTrack::Song, "is_song"},
    {iTunesDBTrack::Podcast, "is_podcast"},
    {iTunesDBTrack::AudioBook, "is_audio_book"},
    {iTunesDBTrack::MusicVideo, "is_music_video"},
    {iTunesDBTrack::Movie, "is_movie"},
    {iTunesDBTrack::TVShow, "is_tv_show"},
};

bool endsWithExtension(std::string_view location, std::string_view extension) {
    const auto slash = location.find_last_of('/');
    const auto dot = location.find_last_of('.');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash))
        return false;
    const std::string_view found = location.substr(dot + 1);
    return found.size() == extension.size() &&
           std::equal(found.begin(), found.end(), extension.begin(), [](char a, char b) {
               return (a >= 'A' && a <= 'Z' ? a - 'A' + 'a' : a) == b;
           });
}

}  // namespace

bool appendUtf16LE(std::span<const std::uint8_t> bytes, std::string& out) {
    const std::size_t start = out.size();
    out.resize(start + bytes.size() / 2 * 3);
    const std::size_t written = utf16LEToUtf8(bytes, out.data() + start);
    out.resize(written == kInvalidUtf16 ? start : start + written);
    return written != kInvalidUtf16;
}

iTunesDBTrack& iTunesDBTrackList::add(const iTunesDBTrack& numbers) {
    return tracks_.emplace_back(numbers);
}

bool iTunesDBTrackList::setText(iTunesDBTrack::Text which, std::span<const std::uint8_t> utf16) {
    const std::size_t offset = texts_.size();
    std::size_t length = 0;
    if (!texts_.appendUtf16LE(utf16, length)) return false;
    if (which == iTunesDBTrack::Location) texts_.replaceFrom(offset, ':', '/');
    iTunesDBTrack& track = tracks_.back();
    track.textOffset[which] = static_cast<std::uint32_t>(offset);
    track.textLength[which] = static_cast<std::uint32_t>(length);
    track.present |= static_cast<std::uint8_t>(1u << which);
    return true;
}

std::string_view iTunesDBTrackList::text(const iTunesDBTrack& track,
                                         iTunesDBTrack::Text which) const {
    if (!(track.present & (1u << which))) return {};
    return texts_.view(track.textOffset[which], track.textLength[which]);
}

void iTunesDBTrackList::classify(std::uint32_t mediaType, std::uint8_t movieFlag) {
    iTunesDBTrack& track = tracks_.back();
    const bool hasFileType = track.present & (1u << iTunesDBTrack::FileType);
    const std::string_view fileType = hasFileType ? text(track, iTunesDBTrack::FileType) : "audio";
    std::uint8_t kinds = 0;
    if (fileType.find("audio") != std::string_view::npos) {
        kinds |= mediaType == 4   ? iTunesDBTrack::Podcast
                 : mediaType == 8 ? iTunesDBTrack::AudioBook
                                  : iTunesDBTrack::Song;
    } else if (fileType.find("video") != std::string_view::npos) {
        kinds |= iTunesDBTrack::MusicVideo;
        if (mediaType == 2 && movieFlag == 1) {
            kinds |= iTunesDBTrack::Movie;
        } else if (mediaType == 64 && movieFlag == 1) {
            kinds |= iTunesDBTrack::TVShow;
        } else if (mediaType == 6) {
            kinds |= iTunesDBTrack::Podcast;
        }
    }
    if (track.present & (1u << iTunesDBTrack::Location)) {
        const std::string_view location = text(track, iTunesDBTrack::Location);
        if (endsWithExtension(location, "mp3") || endsWithExtension(location, "aiff"))
            kinds |= iTunesDBTrack::Song;
    }
    track.kinds = kinds;
}

Value iTunesDBTrackList::operator[](std::size_t index) const {
    const iTunesDBTrack& track = tracks_.at(index);
    foundation::Dictionary fields;
    fields.emplace("pid", track.pid);
    fields.emplace("size", track.size);
    fields.emplace("length", track.length);
    fields.emplace("stars", static_cast<unsigned>(track.stars));
    fields.emplace("year", track.year);
    fields.emplace("playCount", track.playCount);
    fields.emplace("trackNumber", track.trackNumber);
    fields.emplace("totalTracks", track.totalTracks);
    for (std::uint8_t which = 0; which < iTunesDBTrack::kTexts; ++which) {
        const auto text = static_cast<iTunesDBTrack::Text>(which);
        if (track.present & (1u << which)) {
            fields.emplace(kTextKeys[which], std::string(this->text(track, text)));
        } else if (text == iTunesDBTrack::Title || text == iTunesDBTrack::Album ||
                   text == iTunesDBTrack::Artist || text == iTunesDBTrack::Genre) {
            fields.emplace(kTextKeys[which], "Unknown");
        }
    }
    for (const auto& [bit, key] : kKindKeys) {
        if (track.kinds & bit) fields.emplace(key, true);
    }
    return Value(std::move(fields));
}

}  // namespace media
