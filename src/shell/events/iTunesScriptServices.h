#pragma once

#include <functional>
#include <optional>
#include <string>

#include "foundation/Value.h"

// What the "itunes" event handler uses of the music library's script (the media layer
// fills it). Each call blocks until the library has answered.
struct iTunesScriptServices {
    // The library track's file path; nullopt when there is none.
    std::function<std::optional<std::string>(const std::string& persistentID)> pathForTrackByPID;
    std::function<bool(const std::string& persistentID, const std::string& playlist)>
        checkTrackInPlayList;
    std::function<bool(const std::string& title, const std::string& artist,
                       const std::string& album, const std::string& playlist)>
        checkTrackTitleArtistAlbumInPlaylist;
    // Adds the library track to the playlist; false when it was not added.
    std::function<bool(const std::string& persistentID, const std::string& playlist)>
        addToITunesPlaylist;
    // What the page shows of the library: {"loaded", "trackCount", "playlists"}.
    std::function<foundation::Value()> librarySummary;
};
