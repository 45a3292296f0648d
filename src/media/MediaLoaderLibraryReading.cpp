// The load's steps over a SQLite library (the media library or the Library.itdb group) and
// the media library's ringtone list, with the row readers of both shapes.
#include <exception>

#include "foundation/PathComponents.h"
#include "logging/LogCall.h"
#include "media/MediaLibraryRows.h"
#include "media/MediaLoaderLoad.h"
#include "media/RingtoneList.h"

using foundation::Value;

namespace media {

void MediaLoader::loadPlaylists() {
    Load& load = *loading_;
    guardedStep("playlists", [&] {
        if (load.reader->loadPlaylists()) {
            addPlaylistLists(load.reader->playlists());
            load.rawPlaylists = load.reader->rawPlaylists();
        }
    });
    publishPlaylists(load.playlists, load.listsRead, load.rawPlaylists);
}

void MediaLoader::loadTracks() {
    Load& load = *loading_;
    MediaLibraryReader& reader = *load.reader;
    load.unread = guardedStep("tracks", [&] {
        MediaLibraryReader::TrackSteps steps;
        if (load.mediaLibrary) {
            steps.membership = [this](SqlDatabase& db) { updatePlaylistTracksFromIOS5DB(db); };
        } else {
            steps.membership = [this](SqlDatabase& db) { updatePlaylistTracksFromDB(db); };
            steps.formatInfo = [this](SqlDatabase& db, TrackTable& tracks) {
                updateAVFormatInfoFromDBTracks(db, tracks);
            };
            steps.playStatistics = [this](const std::string& path, TrackTable& tracks) {
                updateDynamicInfoByPathForTracks(path, tracks);
            };
        }
        load.tracks = reader.loadTracks(steps);
    });
    if (load.unread.empty()) load.unread = reader.unreadable();
    if (!reader.failure().empty()) {
        // The library failed to load: none of the playlists it gave stands either.
        load.playlists.resize(kCommonPlaylists);
        load.rawPlaylists.clear();
    }
    {
        std::lock_guard lock(lock_);
        flags_ = load.flags;
    }
    if (load.mediaLibrary) guardedStep("ringtones", [&] { loadRingtones(); });
}

void MediaLoader::loadRingtones() {
    Load& load = *loading_;
    const auto& device = load.device;
    if (!device || !load.ringtonesPlaylist) return;
    const std::string folder =
        foundation::appendingPathComponent(device->iTunesControlPath(), "Ringtones");
    for (Value& record :
         RingtoneList::readFile(load.ringtonesPath, folder, [&](const std::string& path) {
             return device->getSizeOfItemAtPath(path);
         })) {
        load.ringtonesPlaylist->trackIDs().push_back(record["pid"]);
        load.tracks.push_back(std::move(record));
    }
}

void MediaLoader::updatePlaylistTracksFromIOS5DB(SqlDatabase& db) {
    if (loading_ && loading_->reader) loading_->reader->addMembership(db);
}

void MediaLoader::updatePlaylistTracksFromDB(SqlDatabase& db) {
    // The reader knows the table of its own shape.
    updatePlaylistTracksFromIOS5DB(db);
}

void MediaLoader::updateAVFormatInfoFromDBTracks(SqlDatabase& db, TrackTable& tracks) {
    // The reader charges the entries against its library's budget.
    if (loading_ && loading_->reader) loading_->reader->addFormatInfo(db, tracks);
}

void MediaLoader::updateDynamicInfoByPathForTracks(const std::string& path, TrackTable& tracks) {
    if (loading_ && loading_->reader) loading_->reader->addPlayStatistics(path, tracks);
}

Value MediaLoader::loadTrackInfoIOS5(SqlResultSet& row) const {
    return MediaLibraryRows(MediaLibraryRows::Shape::MediaLibrary, row).record({});
}

std::optional<Value> MediaLoader::loadTrackInfo(SqlResultSet& row) const {
    try {
        return MediaLibraryRows(MediaLibraryRows::Shape::LibraryGroup, row).record({});
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace media
