#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "foundation/Error.h"
#include "foundation/Value.h"
#include "platform/music/MusicScript.h"

struct iTunesScriptServices;

namespace media {

// Changes and queries the computer's music library through the handlers of its script:
// imports a copied device track, copies a device track's tags onto the library track,
// adds library tracks to playlists, finds the library track of a device track, and answers
// playlist membership and file paths. Track records are string-keyed dictionaries.
//
// One handler call runs at a time, under the wrapper's lock, on the calling thread: the
// local library needs no main thread. Without a script (the library could not be opened)
// every call has no result, and every operation reports failure.
class iTunesWrapper {
public:
    static constexpr const char* kErrorDomain = "OrvandelErrorDomain";
    static constexpr std::int64_t kImportFailed = 10;
    static constexpr std::int64_t kNoPersistentID = -1001;
    static constexpr std::int64_t kScriptFailed = -1002;

    // What runs one handler call: the script, or a stand-in that answers in its place.
    using ScriptRunner = std::function<music::ScriptOutcome(const std::string& handler,
                                                            const foundation::Array& params)>;

    explicit iTunesWrapper(std::shared_ptr<music::MusicScript> script);
    // A stand-in for the script: every handler call goes to `run`, with no library behind it
    // (script() is null).
    struct StandIn {
        ScriptRunner run;
    };
    explicit iTunesWrapper(StandIn standIn);

    // The shared wrapper over the user's library (tracks in the Music folder, the index in
    // the application's data folder), made once on first use.
    static iTunesWrapper& global();
    static music::MusicLibraryLocation defaultLocation();
    // The operations the "itunes" event handler uses, over the given wrapper, or over
    // global() when there is none.
    static iTunesScriptServices scriptServices(iTunesWrapper* wrapper = nullptr);

    // Copies the file at the record's "macpath" into the library and stores the new
    // track's id under "persistentID"; with the "CopyMetaData" preference on, the tags
    // follow. Failures have code 10 (no file, no id back) or those of the tag update.
    bool importToItunesError(foundation::Value& track, foundation::Error* error);
    // The record's tags, less those whose preferences are off, onto the library track of
    // its "persistentID". Failures: -1001 without an id, -1002 when the script fails.
    bool updateTrackMetadataInITunesError(const foundation::Value& track, foundation::Error* error);
    bool updateTrackMetadataInITunes(const foundation::Value& track) {
        return updateTrackMetadataInITunesError(track, nullptr);
    }
    // Adds the library track of the record's "persistentID" to the named playlist.
    bool addToITunesPlaylistTargetPlaylistStr(const foundation::Value& track,
                                              const std::string& playlist);
    // The library's answer for the record's "pidstr", "title", "artist" and "album": a
    // dictionary with "globalID" and "locationOnMac", or nullopt.
    std::optional<foundation::Value> findTrack(const foundation::Value& track);
    bool checkTrackInPlayList(const std::string& trackID, const std::string& playlist);
    bool checkTrackTitleArtistAlbumInPlaylist(const std::string& title, const std::string& artist,
                                              const std::string& album,
                                              const std::string& playlist);
    std::optional<std::string> pathForTrackByPID(const std::string& persistentID);
    bool updateRatingForID(const foundation::Value& rating, const std::string& trackID);

    // One handler call; nullopt when there is no script, it raises an error, or gives
    // nothing.
    std::optional<music::ScriptDescriptor> runScriptParams(const std::string& handler,
                                                           const foundation::Array& params);

    static foundation::Error errorWithCodeDescription(std::int64_t code,
                                                      std::optional<std::string> description);
    // Argument conversions: nil text becomes "", a nil number 0, a number its 32-bit value.
    static foundation::Value eventDescStringOrNull(const foundation::Value& value);
    static foundation::Value eventDescIntOrNull(const foundation::Value& value);

    bool hasScript() const { return runner_ != nullptr; }
    const std::shared_ptr<music::MusicScript>& script() const { return script_; }

private:
    std::recursive_mutex mutex_;
    const std::shared_ptr<music::MusicScript> script_;
    const ScriptRunner runner_;
    // The error the last call raised, for the failure's description.
    std::optional<std::string> lastScriptError_;
};

}  // namespace media
