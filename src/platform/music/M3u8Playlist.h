#pragma once

#include <string>
#include <vector>

namespace music {

// A playlist as an extended M3U file in UTF-8, the form other players read: a header line,
// then for every track an "#EXTINF" line (length unknown, "Artist - Title") and the
// track's absolute path.
class M3u8Playlist {
public:
    struct Entry {
        std::string path;
        std::string artist;
        std::string title;
    };

    static std::string render(const std::vector<Entry>& entries);
};

}  // namespace music
