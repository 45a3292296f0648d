// What the "/fetch" responder hands the page of a media loader.
#include <fmt/format.h>

#include "media/MediaLoader.h"

using foundation::Value;

namespace media {

namespace {

std::string decimal(const Value& id) {
    return fmt::format("{}", iPodPlaylist::trackIDValue(id));
}

Value objFromPlaylist(const iPodPlaylist& playlist) {
    Value tracks = foundation::Array{};
    for (const Value& id : playlist.trackIDs()) tracks.append(decimal(id));
    return Value::dict({
        // The page gets a text in any case; the record itself may have no name.
        {"name", playlist.name()},
        {"type", static_cast<std::uint32_t>(playlist.type())},
        {"tag", playlist.tag()},
        {"pid", fmt::format("{}", playlist.pid())},
        {"hidden", playlist.isHidden()},
        {"smart", playlist.isSmart()},
        {"genius", playlist.isGenius()},
        {"master", playlist.isMaster()},
        {"tracks", std::move(tracks)},
    });
}

Value objectsOf(const MediaLoader::Playlists& playlists) {
    Value list = foundation::Array{};
    for (const auto& playlist : playlists) list.append(objFromPlaylist(*playlist));
    return list;
}

}  // namespace

Value MediaLoader::playlistsAnswer() const {
    return Value::dict(
        {{"public", objectsOf(*allPublicPlaylists())}, {"user", objectsOf(*allUserPlaylists())}});
}

Value MediaLoader::tracksAnswer() const {
    const auto tracks = allTracks();
    Value records = foundation::Array{};
    for (const auto& track : *tracks) {
        Value record = *track;
        record.set("pid", decimal((*track)["pid"]));
        records.append(std::move(record));
    }
    Value answer = Value::dict({{"records", std::move(records)}, {"total", tracks->size()}});
    // What the load found, so that the page tells a device without a library, and one whose
    // library could not be read, from an empty one.
    const Value outcome = loadOutcome();
    if (outcome.isDictionary()) {
        answer.set("library", outcome["library"]);
        if (!outcome["error"].isNil()) answer.set("error", outcome["error"]);
    }
    return answer;
}

Value MediaLoader::loadOutcome() const {
    std::lock_guard lock(lock_);
    return loadOutcome_;
}

MediaLoader::TrackRecord MediaLoader::trackWithPid(std::int64_t pid) const {
    return lookupTrackWithPid(Value(pid));
}

}  // namespace media
