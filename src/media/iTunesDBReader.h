#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "foundation/Value.h"
#include "media/ByteCursor.h"
#include "media/iPodPlaylist.h"
#include "media/iTunesDBTrackList.h"

namespace media {

// What one pass over a binary iTunesDB gives. `tracks[i]` is a track record (a dictionary with
// "pid", "title", "location", the kind flags ...); playlists are in file order with tags from
// 100 upward.
struct iTunesDBContents {
    bool isDatabase = false;       // the file began with a database header we could read
    bool hasPlaylistList = false;  // a playlist list was read, so the playlist lists update
    iTunesDBTrackList tracks;
    std::vector<std::shared_ptr<iPodPlaylist>> playlists;
    // What was wrong with the file: no database, or the first record that was malformed or
    // held fewer entries than it said (the first fault, logged as a warning). Empty when the
    // whole file was read.
    std::string error;
};

// Reader of the binary iPod database. Lengths in the file are never trusted: a record whose
// header or total length is below its fixed part or past its parent ends the list it is in,
// and what was read before it is kept (the contents' error says so). Sections of other types
// are stepped over by their total length.
class iTunesDBReader {
public:
    static iTunesDBContents read(std::span<const std::uint8_t> bytes);
    // Nothing read when the file does not open.
    static iTunesDBContents readFile(const std::string& path);

    // The pieces of a reading, for a walk of one's own. Each logs the faults it meets and
    // keeps the first in `fault` when that is still empty.
    // Hands the body of each data set (its header stepped over) with the set's type to
    // `visit`, in file order, until `visit` answers false; false when the bytes are no database.
    static bool walkDataSets(std::span<const std::uint8_t> bytes, std::string& fault,
                             const std::function<bool(std::uint32_t type, ByteCursor& set)>& visit);
    // The track list at the cursor (a track set's body): its tracks go to `tracks`.
    static void readTrackList(ByteCursor& set, iTunesDBTrackList& tracks, std::string& fault);
    // The playlist list at the cursor (a playlist set's body), in file order with tags from
    // 100, each name logged as information.
    static std::vector<std::shared_ptr<iPodPlaylist>> readPlaylistList(ByteCursor& set,
                                                                       std::string& fault);

    // The name of the master playlist (its first title), which names a disk-mode iPod; nullopt
    // when there is no master playlist or no playlist list.
    static std::optional<std::string> masterPlaylistName(std::span<const std::uint8_t> bytes);
    static std::optional<std::string> masterPlaylistNameOfFile(const std::string& path);
    // The same from the playlist list at the cursor (a playlist set's body).
    static std::optional<std::string> masterPlaylistNameInList(ByteCursor& set);
    // `length` bytes of UTF-16LE text at the cursor, stepped over; nullopt (the cursor
    // left where it was) when they are not there or are no text.
    static std::optional<std::string> readUtf16Text(ByteCursor& cursor, std::uint32_t length);
};

// Decodes UTF-16LE text; nullopt for an odd byte count or an unpaired surrogate.
std::optional<std::string> decodeUtf16LE(std::span<const std::uint8_t> bytes);

}  // namespace media
