#pragma once

#include "foundation/Value.h"
#include "media/MediaDevice.h"

namespace media {

// Receives a media loader's progress: from the load, beforeLoadingTracksOf,
// playlistsLoadedOf and finishLoadingTracksOf in that order; from the match that follows,
// updateTrackInfoOf per track and then finishMatchingiTunesOf. Called on the loader's
// background threads; the match may begin before finishLoadingTracksOf arrives. Each is
// given the loader's device, nullptr for a loader without one: its load still ends, and says
// so.
class MediaLoaderDelegate {
public:
    virtual ~MediaLoaderDelegate() = default;
    virtual void beforeLoadingTracksOf(MediaDevice* device) = 0;
    virtual void playlistsLoadedOf(MediaDevice* device) = 0;
    virtual void finishLoadingTracksOf(MediaDevice* device) = 0;
    virtual void updateTrackInfoOf(const foundation::Value& track, MediaDevice* device) = 0;
    virtual void finishMatchingiTunesOf(MediaDevice* device) = 0;
};

}  // namespace media
