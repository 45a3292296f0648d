#include "platform/music/M3u8Playlist.h"

namespace music {

namespace {

// A line break inside a tag or path would start a new entry in the file.
std::string oneLine(const std::string& text) {
    std::string line = text;
    for (char& c : line) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    return line;
}

}  // namespace

std::string M3u8Playlist::render(const std::vector<Entry>& entries) {
    std::string text = "#EXTM3U\n";
    for (const auto& entry : entries) {
        std::string label = oneLine(entry.title);
        if (!entry.artist.empty()) label = oneLine(entry.artist) + " - " + label;
        text += "#EXTINF:-1," + label + "\n" + oneLine(entry.path) + "\n";
    }
    return text;
}

}  // namespace music
