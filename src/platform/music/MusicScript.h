#pragma once

#include <memory>
#include <optional>
#include <string>

#include "foundation/Value.h"
#include "platform/music/MusicLibrary.h"
#include "platform/music/ScriptDescriptor.h"

namespace music {

// What one handler call gives: a result (or none), or the error the script raised.
struct ScriptOutcome {
    std::optional<ScriptDescriptor> result;
    std::optional<std::string> error;
};

// The script the program drives the music library with: named handlers taking a list of
// text and integer arguments, answered against a local MusicLibrary on the calling thread.
//
//   add_track_to_itunes (path)                          text: the new track's id, or why not
//   update_track_metadata (id, title, artist, genre, play count, stars, year, track number,
//       total tracks, album, disc number, disc count, album artist, composer, comment,
//       description, long description)               text: "" or why not
//   add_to_playlist (playlist, id)                      text: "" or why not
//   find_track (id, title, artist, album)               text: JSON {"globalID",
//       "locationOnMac", "name", "artist", "album"}, "" when not found
//   check_track_in_playlist (playlist, id)              boolean
//   check_track_in_playlist_2 (playlist, title, artist, album, 0, 0)   boolean
//   get_track_posix_path (id)                           file URL, none when not found
//   transfer_ratings (id, rating text)                  text: "" or why not
//   create_playlist (name)                              text: the playlist's id, none for ""
//
// A handler name it does not know, or arguments of the wrong number or kind, raise an error.
class MusicScript {
public:
    // The script over the library at the location; nullptr with a reason when the library
    // cannot be opened.
    static std::shared_ptr<MusicScript> load(MusicLibraryLocation location, std::string* error);
    explicit MusicScript(std::shared_ptr<MusicLibrary> library) : library_(std::move(library)) {}

    ScriptOutcome run(const std::string& handler, const foundation::Array& arguments) const;

    const std::shared_ptr<MusicLibrary>& library() const { return library_; }

private:
    std::shared_ptr<MusicLibrary> library_;
};

}  // namespace music
