#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Error.h"
#include "foundation/Value.h"

// A device's loaded media library as the Music import commands see it; the media layer
// provides it through the process entry.
class DeviceTrackLibrary {
public:
    struct Playlist {
        std::string name;
        std::vector<std::string> trackIDs;  // as decimal text
    };

    virtual ~DeviceTrackLibrary() = default;
    // A copy of the track record of this pid; nil when there is none.
    virtual foundation::Value lookupTrackWithPid(const std::string& pid) const = 0;
    // Sets each key of `changes` on the library's own record of this pid.
    virtual void updateTrackWithPid(const std::string& pid, const foundation::Value& changes) = 0;
    virtual std::vector<Playlist> allUserPlaylists() const = 0;
    virtual std::vector<Playlist> allPublicPlaylists() const = 0;
};

// What the Music import commands use of the media loaders and the music library. Each
// call blocks until it has an answer.
struct MusicImportServices {
    // The device's loaded library, or null.
    std::function<std::shared_ptr<DeviceTrackLibrary>(const std::string& deviceId)> mediaLoaderOf;
    // Copies the file at the record's "macpath" into the library, storing "persistentID".
    std::function<bool(foundation::Value& track, foundation::Error* error)> importToItunes;
    std::function<bool(const foundation::Value& track, foundation::Error* error)> updateTrackMetadataInITunes;
    // The library track's file, by the script and by the library view.
    std::function<std::optional<std::string>(const std::string& persistentID)> pathForTrackByPID;
    std::function<std::optional<std::string>(const std::string& persistentID)> pathForTrackByPersistentID;
    std::function<bool(const foundation::Value& track, const std::string& playlist)> addToITunesPlaylist;
    // The library track matching the device track as the library view matches them:
    // {"pid", "location"}, or nullopt.
    std::function<std::optional<foundation::Value>(const foundation::Value& track)>
        findTrackInLibrary;
};
