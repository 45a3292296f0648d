// Track tags come from devices and the pattern from the preferences: whatever they hold,
// the path a track is placed at must stay below the library folder and be made of names a
// file system takes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/music/TrackFilePattern.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Fields separated by NUL bytes: pattern, title, artist, album, extension.
    std::string fields[5];
    std::size_t field = 0;
    for (std::size_t i = 0; i < size && field < 5; ++i) {
        if (data[i] == 0)
            ++field;
        else
            fields[field] += static_cast<char>(data[i]);
    }
    music::TrackTags tags{fields[1], fields[2], fields[3], "", size > 0 ? data[0] : 0, 0};
    const std::string path = music::TrackFilePattern(fields[0]).relativePathFor(tags, fields[4]);
    if (path.empty() || path.front() == '/' || path.back() == '/') std::abort();
    std::size_t start = 0;
    while (start <= path.size()) {
        const auto slash = path.find('/', start);
        const std::string_view name = std::string_view(path).substr(
            start, (slash == std::string::npos ? path.size() : slash) - start);
        if (name.empty() || name.front() == '.' || name.size() > 255) std::abort();
        for (char c : name) {
            if (static_cast<unsigned char>(c) < 0x20 || c == '\\') std::abort();
        }
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    return 0;
}
