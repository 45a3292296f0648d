#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Value.h"
#include "media/PackedText.h"

namespace media {

// One track of a binary iTunesDB as read: numbers and kind flags in place, texts as ranges of
// the list's text store. Building a dictionary per track costs more than reading the file, so
// that is left to whoever asks for the record.
struct iTunesDBTrack {
    enum Text : std::uint8_t { Title, Location, Album, Artist, Genre, FileType, Comment, kTexts };
    enum Kind : std::uint8_t {
        Song = 1,
        Podcast = 2,
        AudioBook = 4,
        MusicVideo = 8,
        Movie = 16,
        TVShow = 32,
    };

    std::uint32_t pid = 0;
    std::uint32_t size = 0;
    std::uint32_t length = 0;
    std::uint32_t playCount = 0;
    std::int32_t year = 0;
    std::int32_t trackNumber = 0;
    std::int32_t totalTracks = 0;
    std::uint8_t stars = 0;
    std::uint8_t kinds = 0;    // Kind bits
    std::uint8_t present = 0;  // a bit per Text that the file gave
    std::array<std::uint32_t, kTexts> textOffset{};
    std::array<std::uint32_t, kTexts> textLength{};
};

// The tracks of one database in file order. `operator[]` gives the track record the rest of
// the program uses: "pid", "size", "length", "stars", "year", "playCount", "trackNumber",
// "totalTracks", the texts ("Unknown" for a missing title, album, artist or genre) and the
// "is_" flags.
class iTunesDBTrackList {
public:
    std::size_t size() const { return tracks_.size(); }
    bool empty() const { return tracks_.empty(); }
    foundation::Value operator[](std::size_t index) const;
    const iTunesDBTrack& record(std::size_t index) const { return tracks_[index]; }
    // The text as read, or empty when the file gave none.
    std::string_view text(const iTunesDBTrack& track, iTunesDBTrack::Text which) const;

    // Room for `count` tracks, so that reading does not move the records as it goes.
    void reserve(std::size_t count) { tracks_.reserve(count); }
    // Reading: a new track, then its texts as UTF-16LE (false, and nothing kept, when the
    // bytes do not decode), then its kinds.
    iTunesDBTrack& add(const iTunesDBTrack& numbers);
    bool setText(iTunesDBTrack::Text which, std::span<const std::uint8_t> utf16);
    void classify(std::uint32_t mediaType, std::uint8_t movieFlag);

private:
    std::vector<iTunesDBTrack> tracks_;
    PackedText texts_;
};

// Appends UTF-16LE text as UTF-8; false (out as it was) for an odd byte count or an unpaired
// surrogate.
bool appendUtf16LE(std::span<const std::uint8_t> bytes, std::string& out);

}  // namespace media
