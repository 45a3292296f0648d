#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace music {

// The tags a track's place in the library folder is made from.
struct TrackTags {
    std::string title;
    std::string artist;
    std::string album;
    std::string genre;
    std::int32_t trackNumber = 0;
    std::int32_t year = 0;
};

// Turns the "transferFilePattern" preference ("/$a/$b/$n $t") into a track's path below
// the library folder: $a artist, $b album, $t title, $n two-digit track number, $g genre,
// $y year. Every folder and file name is made safe: no separators or other characters
// file systems refuse, no leading dot, no ".." and at most 200 bytes, so that a pattern
// or a tag can never lead out of the library folder.
class TrackFilePattern {
public:
    static constexpr const char* kDefaultPattern = "/$a/$b/$t";

    explicit TrackFilePattern(std::string pattern);

    // The relative path ("Artist/Album/Title.m4a"); `extension` is given without its dot.
    std::string relativePathFor(const TrackTags& tags, std::string_view extension) const;

    // A file or folder name safe on every common file system; "Unknown" for nothing left.
    static std::string safeComponent(std::string_view text);

private:
    std::string pattern_;
};

}  // namespace music
