#include "platform/music/TrackFilePattern.h"

#include <fmt/format.h>

#include <vector>

#include "data/helpers/NSStringHelpers.h"

namespace music {

namespace {

constexpr std::size_t kMaxComponentBytes = 200;
constexpr std::size_t kMaxExtensionBytes = 16;

std::string orUnknown(const std::string& text, const char* unknown) {
    return NSString::IsEmpty(text) ? std::string(unknown) : text;
}

// Cuts at a character boundary so that no half UTF-8 sequence is left.
std::string cutUtf8(std::string text, std::size_t bytes) {
    if (text.size() <= bytes) return text;
    std::size_t end = bytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    text.resize(end);
    return text;
}

std::string expand(std::string_view component, const TrackTags& tags) {
    std::string out;
    for (std::size_t i = 0; i < component.size(); ++i) {
        if (component[i] != '$' || i + 1 == component.size()) {
            out += component[i];
            continue;
        }
        switch (component[i + 1]) {
            case 'a':
                out += orUnknown(tags.artist, "Unknown Artist");
                break;
            case 'b':
                out += orUnknown(tags.album, "Unknown Album");
                break;
            case 't':
                out += orUnknown(tags.title, "Unknown Title");
                break;
            case 'g':
                out += tags.genre;
                break;
            case 'n':
                if (tags.trackNumber > 0) out += fmt::format("{:02}", tags.trackNumber);
                break;
            case 'y':
                if (tags.year > 0) out += std::to_string(tags.year);
                break;
            default:
                out += component.substr(i, 2);
                break;
        }
        ++i;
    }
    return out;
}

}  // namespace

TrackFilePattern::TrackFilePattern(std::string pattern)
    : pattern_(NSString::IsEmpty(pattern) ? std::string(kDefaultPattern) : std::move(pattern)) {}

std::string TrackFilePattern::safeComponent(std::string_view text) {
    std::string safe;
    for (char c : NSString::safeFilename(text)) {
        if (static_cast<unsigned char>(c) >= 0x20) safe += c;
    }
    // Leading dots hide a file; spaces and dots at either end are refused or lost by some
    // file systems.
    const auto first = safe.find_first_not_of(" .");
    const auto last = safe.find_last_not_of(" .");
    safe = first == std::string::npos ? std::string() : safe.substr(first, last - first + 1);
    safe = cutUtf8(std::move(safe), kMaxComponentBytes);
    while (!safe.empty() && (safe.back() == ' ' || safe.back() == '.')) safe.pop_back();
    return safe.empty() ? std::string("Unknown") : safe;
}

std::string TrackFilePattern::relativePathFor(const TrackTags& tags,
                                              std::string_view extension) const {
    std::vector<std::string> components;
    std::size_t start = 0;
    while (start <= pattern_.size()) {
        const auto slash = pattern_.find('/', start);
        const auto end = slash == std::string::npos ? pattern_.size() : slash;
        const std::string expanded =
            expand(std::string_view(pattern_).substr(start, end - start), tags);
        if (!NSString::IsEmpty(expanded)) components.push_back(expanded);
        start = end + 1;
    }
    if (components.empty()) components.push_back(orUnknown(tags.title, "Unknown Title"));

    std::string path;
    for (std::size_t i = 0; i < components.size(); ++i) {
        if (i + 1 < components.size()) {
            path += safeComponent(components[i]) + "/";
        } else {
            // Extensions are short; a long one must not crowd out the name.
            const std::string suffix =
                extension.empty() ? std::string()
                                  : "." + cutUtf8(safeComponent(extension), kMaxExtensionBytes);
            path +=
                safeComponent(cutUtf8(components[i], kMaxComponentBytes - suffix.size())) + suffix;
        }
    }
    return path;
}

}  // namespace music
