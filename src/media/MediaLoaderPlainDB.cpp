// The load's steps over a binary iTunesDB: one pass, its tracks and its playlists.
#include "media/ByteCursor.h"
#include "media/MappedFile.h"
#include "media/MediaLoaderLoad.h"
#include "media/iTunesDBReader.h"

namespace media {

void MediaLoader::loadDB(const std::string& path) {
    const MappedFile file(path);
    if (!file.isOpen()) return;
    std::string fault;
    const bool database =
        iTunesDBReader::walkDataSets(file.bytes(), fault, [this](std::uint32_t type, ByteCursor& set) {
            if (type == 1) {
                readMHLT(set);
            } else if (type == 2) {
                readMHLP(set);
            }
            return true;
        });
    // A file that is no database is one whose library could not be read, not an empty one.
    if (!database) loading_->unread = fault.empty() ? "its database could not be read" : fault;
}

void MediaLoader::readMHLT(ByteCursor& set) {
    std::string fault;
    iTunesDBTrackList tracks;
    iTunesDBReader::readTrackList(set, tracks, fault);
    foundation::Array& records = loading_->tracks;
    records.reserve(records.size() + tracks.size());
    for (std::size_t i = 0; i < tracks.size(); ++i) records.push_back(tracks[i]);
}

void MediaLoader::readMHLP(ByteCursor& set) {
    std::string fault;
    addPlaylistLists(iTunesDBReader::readPlaylistList(set, fault));
}

std::optional<std::string> MediaLoader::readMHODStringLength(ByteCursor& cursor,
                                                             std::uint32_t length) const {
    return iTunesDBReader::readUtf16Text(cursor, length);
}

}  // namespace media
