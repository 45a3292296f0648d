#pragma once

#include <memory>
#include <string>
#include <vector>

#include "files/MusicImportServices.h"

namespace media {
class MediaLoader;
class iTunesLibrary;
class iTunesWrapper;
}  // namespace media

// A device's media loader as the Music import commands of the "mdfs" plugin see it.
class MediaLoaderTracks : public DeviceTrackLibrary {
public:
    explicit MediaLoaderTracks(std::shared_ptr<media::MediaLoader> loader) : loader_(std::move(loader)) {}

    foundation::Value lookupTrackWithPid(const std::string& pid) const override;
    void updateTrackWithPid(const std::string& pid, const foundation::Value& changes) override;
    std::vector<Playlist> allUserPlaylists() const override;
    std::vector<Playlist> allPublicPlaylists() const override;

    // The services over the loaders registered with the "/fetch" responder and the given
    // music library (the shared one when none is given).
    static MusicImportServices services(media::iTunesWrapper* wrapper = nullptr,
                                        media::iTunesLibrary* library = nullptr);

private:
    const std::shared_ptr<media::MediaLoader> loader_;
};
