#pragma once

// What one load of a media loader works on, shared by the files of its steps.

#include <cstddef>
#include <cstdint>
#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Value.h"
#include "logging/LogCall.h"
#include "media/MediaLibraryReader.h"
#include "media/MediaLoadFolder.h"
#include "media/MediaLoader.h"
#include "media/iPodPlaylist.h"

namespace media {

// The playlists every device has, ahead of those its database holds.
inline constexpr std::size_t kCommonPlaylists = 5;

// Runs one step of a load; an exception ends the step, is logged, and the load goes on.
// Gives the exception's text, "" when the step ended well.
template <typename Step>
std::string guardedStep(const char* name, Step step) {
    try {
        step();
    } catch (const std::exception& e) {
        LogError("Loading the device's {} failed: {}", name, e.what());
        return e.what();
    }
    return {};
}

struct MediaLoader::Load {
    std::uint64_t generation = 0;
    // The stop count when the load began: a stop sent while it runs ends its match too.
    std::uint64_t cancelGeneration = 0;
    // The device set when the load began, the one it reads.
    std::shared_ptr<MediaDevice> device;
    // The copies' own folder; gone with them at the clean-up.
    std::optional<MediaLoadFolder> folder{std::in_place};

    // The library's shape and its copies.
    bool sqlite = false;        // isDBSqlite
    bool mediaLibrary = false;  // iOS5
    std::string libPath;
    std::string dynPath;
    std::string locPath;
    std::string ringtonesPath;
    // The database found ("" for none); why it could not be reached, and why it could not
    // be read ("" when it could).
    std::string found;
    std::string failure;
    std::string unread;

    // The playlists shown, the five common ones first, and the ringtone one among them.
    std::vector<std::shared_ptr<iPodPlaylist>> playlists;
    std::shared_ptr<iPodPlaylist> ringtonesPlaylist;
    // Whether a playlist reader rebuilt the public and user lists.
    bool listsRead = false;
    std::map<std::string, std::shared_ptr<iPodPlaylist>> rawPlaylists;
    foundation::Array tracks;

    // The SQLite library's reader, from its playlists to its tracks, and what its query
    // ladder learns.
    MediaLibraryFlags flags;
    std::optional<MediaLibraryReader> reader;
};

}  // namespace media
