#include "app/MediaLoaderTracks.h"

#include <fmt/format.h>

#include "content/AppFetchHandler.h"
#include "media/MediaLoader.h"
#include "media/iPodPlaylist.h"
#include "media/iTunesLibrary.h"
#include "media/iTunesWrapper.h"

using foundation::Value;

namespace {

std::vector<DeviceTrackLibrary::Playlist> playlistsOf(
    const std::shared_ptr<const media::MediaLoader::Playlists>& playlists) {
    std::vector<DeviceTrackLibrary::Playlist> answer;
    if (!playlists) return answer;
    for (const auto& playlist : *playlists) {
        DeviceTrackLibrary::Playlist item{playlist->name(), {}};
        for (const Value& id : playlist->trackIDs())
            item.trackIDs.push_back(fmt::format("{}", media::iPodPlaylist::trackIDValue(id)));
        answer.push_back(std::move(item));
    }
    return answer;
}

}  // namespace

Value MediaLoaderTracks::lookupTrackWithPid(const std::string& pid) const {
    const auto record = loader_->lookupTrackWithPid(Value(pid));
    return record ? *record : Value();
}

void MediaLoaderTracks::updateTrackWithPid(const std::string& pid, const Value& changes) {
    loader_->updateTrackWithPid(Value(pid), changes);
}

std::vector<DeviceTrackLibrary::Playlist> MediaLoaderTracks::allUserPlaylists() const {
    return playlistsOf(loader_->allUserPlaylists());
}

std::vector<DeviceTrackLibrary::Playlist> MediaLoaderTracks::allPublicPlaylists() const {
    return playlistsOf(loader_->allPublicPlaylists());
}

MusicImportServices MediaLoaderTracks::services(media::iTunesWrapper* wrapper, media::iTunesLibrary* library) {
    const auto script = [wrapper]() -> media::iTunesWrapper& { return wrapper ? *wrapper : media::iTunesWrapper::global(); };
    const auto view = [library]() -> media::iTunesLibrary& { return library ? *library : media::iTunesLibrary::itLibrary(); };
    MusicImportServices services;
    services.mediaLoaderOf = [](const std::string& deviceId) -> std::shared_ptr<DeviceTrackLibrary> {
        auto loader = std::dynamic_pointer_cast<media::MediaLoader>(content::AppFetchHandler::mediaLoaderOf(deviceId));
        return loader ? std::make_shared<MediaLoaderTracks>(std::move(loader)) : nullptr;
    };
    services.importToItunes = [script](Value& track, foundation::Error* error) {
        return script().importToItunesError(track, error);
    };
    services.updateTrackMetadataInITunes = [script](const Value& track, foundation::Error* error) {
        return script().updateTrackMetadataInITunesError(track, error);
    };
    services.pathForTrackByPID = [script](const std::string& id) { return script().pathForTrackByPID(id); };
    services.pathForTrackByPersistentID = [view](const std::string& id) {
        return view().pathForTrackByPersistentID(id);
    };
    services.addToITunesPlaylist = [script](const Value& track, const std::string& playlist) {
        return script().addToITunesPlaylistTargetPlaylistStr(track, playlist);
    };
    services.findTrackInLibrary = [view](const Value& track) {
        return view().findTrackInLibrary(track);
    };
    return services;
}
