#include "media/iPodPlaylist.h"

#include <cctype>
#include <limits>

namespace media {

iPodPlaylist::iPodPlaylist(std::optional<std::string> name, std::int32_t type, std::int32_t tag)
    : name_(std::move(name)), type_(type), tag_(tag) {}

iPodPlaylist::iPodPlaylist(std::optional<std::string> name,
                           const std::vector<foundation::Value>& trackIDs, std::int32_t type,
                           std::int32_t tag)
    : iPodPlaylist(std::move(name), type, tag) {
    trackIDs_ = trackIDs;
}

std::shared_ptr<iPodPlaylist> iPodPlaylist::CreateNewPlaylistWithName(
    std::optional<std::string> name, std::int64_t pid, std::int32_t type, std::int32_t tag) {
    auto playlist = std::make_shared<iPodPlaylist>(std::move(name), type, tag);
    playlist->setPid(pid);
    return playlist;
}

std::shared_ptr<iPodPlaylist> iPodPlaylist::CreateNewPlaylistWithName(
    std::optional<std::string> name, std::int32_t type, std::int32_t tag) {
    return CreateNewPlaylistWithName(std::move(name), 0, type, tag);
}

const std::string& iPodPlaylist::name() const {
    static const std::string* const none = new std::string();  // outlives the pool's jobs
    return name_ ? *name_ : *none;
}

std::int64_t iPodPlaylist::trackIDValue(const foundation::Value& id) {
    if (auto number = id.toInt64()) return *number;
    const std::string* text = id.string();
    if (text == nullptr) return 0;
    std::size_t i = 0;
    while (i < text->size() && std::isspace(static_cast<unsigned char>((*text)[i]))) ++i;
    bool negative = false;
    if (i < text->size() && ((*text)[i] == '-' || (*text)[i] == '+'))
        negative = (*text)[i++] == '-';
    // Accumulate as a negative number so that the lowest value fits; saturate like a number
    // object does on overflow.
    std::int64_t value = 0;
    constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
    for (; i < text->size() && std::isdigit(static_cast<unsigned char>((*text)[i])); ++i) {
        const int digit = (*text)[i] - '0';
        if (value < (kMin + digit) / 10) {
            return negative ? kMin : std::numeric_limits<std::int64_t>::max();
        }
        value = value * 10 - digit;
    }
    if (negative) return value;
    return value == kMin ? std::numeric_limits<std::int64_t>::max() : -value;
}

}  // namespace media
