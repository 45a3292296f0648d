#include "files/MusicImportCommands.h"

#include <algorithm>
#include <filesystem>
#include <utility>

#include <fmt/format.h>

#include "files/RequestArguments.h"
#include "logging/LogCall.h"

using foundation::Value;

namespace {

Value failure(const std::string& error) { return Value::dict({{"result", false}, {"error", error}}); }

// The id of the library track that already holds the device track, found as the library
// matches device tracks (title, artist and album) and with its file in place; "" when there
// is none, so that the track is imported.
std::string heldByLibrary(const MusicImportServices& services, const Value& track) {
    if (!services.findTrackInLibrary) return {};
    const auto found = services.findTrackInLibrary(track);
    if (!found) return {};
    std::error_code ignored;
    if (!std::filesystem::is_regular_file((*found)["location"].stringOr(), ignored)) return {};
    return (*found)["pid"].stringOr();
}

// The name of the first playlist holding the pid that has a name; empty when none does.
std::string playlistHolding(const std::vector<DeviceTrackLibrary::Playlist>& playlists, const std::string& pid) {
    for (const auto& playlist : playlists) {
        if (std::find(playlist.trackIDs.begin(), playlist.trackIDs.end(), pid) != playlist.trackIDs.end())
            return playlist.name;
    }
    return {};
}

}  // namespace

void MusicImportCommands::addTo(std::map<std::string, Plugin::Command>& commands, MusicImportServices services) {
    auto shared = std::make_shared<const MusicImportServices>(std::move(services));
    commands["device-additunes"] = [shared](Plugin&, Plugin::Request& request) {
        return addToITunes(*shared, request);
    };
    commands["device-update-track-itunes-meta"] = [shared](Plugin&, Plugin::Request& request) {
        return updateTrackMeta(*shared, request);
    };
}

Value MusicImportCommands::addToITunes(const MusicImportServices& services, Plugin::Request& request) {
    const Value& pidValue = request.data["pid"];
    const std::string pid = pidValue.stringOr();
    if (!pidValue.isString() || pid.empty()) return failure("missing track pid");
    const std::string localPath = request.data["localpath"].stringOr();
    if (localPath.empty()) return failure("missing local path");
    const auto loader = services.mediaLoaderOf ? services.mediaLoaderOf(request.device->uuid()) : nullptr;
    if (!loader) return failure("no media loader found");
    Value track = loader->lookupTrackWithPid(pid);
    if (!track.isDictionary()) return failure("missing track info");
    track.set("macpath", localPath);

    // A track the library holds already is not copied in a second time.
    const std::string held = heldByLibrary(services, track);
    if (!held.empty()) {
        track.set("persistentID", held);
    } else if (foundation::Error error; !services.importToItunes(track, &error)) {
        const std::string text = error.message.empty() ? "failed to import to iTunes" : error.message;
        LogError("Importing \"{}\" of {} into the music library failed: {}", track["title"].stringOr(),
                 request.device->uuid(), text);
        return failure(text);
    }
    if (RequestArguments::flag(request.data["addToPlaylist"]).value_or(false)) {
        const Value& name = request.data["playlist"];
        addTrackToITunesMediaLoaderToPlaylist(services, track, *loader,
                                              name.isString() ? std::optional(*name.string()) : std::nullopt);
    }
    Value changes = Value::dict({{"copied", true}});
    const std::string persistentID = track["persistentID"].stringOr();
    // The record keeps the id of its library copy, so that its tags can be written there
    // without waiting for the next match with the library.
    if (!persistentID.empty()) changes.set("persistentID", persistentID);
    std::optional<std::string> libraryPath;
    if (!persistentID.empty()) libraryPath = services.pathForTrackByPID(persistentID);
    if (libraryPath && !libraryPath->empty()) changes.set("macpath", *libraryPath);
    loader->updateTrackWithPid(pid, changes);
    // The page says when nothing was copied because the library held the track already.
    if (!libraryPath || libraryPath->empty()) {
        if (held.empty()) return Value::dict({{"result", true}});
        return Value::dict({{"result", true}, {"data", Value::dict({{"alreadyInLibrary", true}})}});
    }
    Value data = Value::dict({{"localpath", *libraryPath}, {"persistentID", persistentID}});
    if (!held.empty()) data.set("alreadyInLibrary", true);
    return Value::dict({{"result", true}, {"data", std::move(data)}});
}

Value MusicImportCommands::updateTrackMeta(const MusicImportServices& services, Plugin::Request& request) {
    const Value& pidValue = request.data["pid"];
    const std::string pid = pidValue.stringOr();
    if (!pidValue.isString() || pid.empty()) return failure("missing track pid");
    const auto loader = services.mediaLoaderOf ? services.mediaLoaderOf(request.device->uuid()) : nullptr;
    if (!loader) return failure("no media loader found");
    Value track = loader->lookupTrackWithPid(pid);
    if (!track.isDictionary()) return failure("missing track info");
    if (track["macpath"].stringOr().empty()) {
        const auto path = services.pathForTrackByPID(track["persistentID"].stringOr());
        if (!path || path->empty())
            return failure(fmt::format("the track \"{}\" doest not exist in music library yet.",
                                       track["title"].stringOr()));
        track.set("macpath", *path);
    }
    foundation::Error error;
    if (!services.updateTrackMetadataInITunes(track, &error)) return failure(error.message.empty() ? error.description() : error.message);
    return Value::dict({{"result", true}});
}

bool MusicImportCommands::addTrackToITunesMediaLoaderToPlaylist(const MusicImportServices& services, Value& track,
                                                                const DeviceTrackLibrary& loader,
                                                                const std::optional<std::string>& playlist) {
    const auto path = services.pathForTrackByPersistentID(track["persistentID"].stringOr());
    if (!path) {
        std::error_code ignored;
        return std::filesystem::exists(track["macpath"].stringOr(), ignored);
    }
    track.set("macpath", *path);
    const std::string pid = track["pid"].isString() ? *track["pid"].string()
                                                     : fmt::format("{}", track["pid"].toInt64().value_or(0));
    std::string target = playlist.value_or("");
    if (target.empty()) target = playlistHolding(loader.allUserPlaylists(), pid);
    if (target.empty()) target = playlistHolding(loader.allPublicPlaylists(), pid);
    if (target.empty()) return true;
    services.addToITunesPlaylist(track, target);
    return true;
}
