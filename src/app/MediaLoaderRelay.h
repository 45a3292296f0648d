#pragma once

#include <memory>

#include "device/iMobileDevice.h"
#include "media/MediaLoaderDelegate.h"
#include "shell/AppServices.h"

class KolvexAppDelegate;
namespace media {
class iTunesLibrary;
}

// A media loader's progress passed on to the application delegate, which pushes it to the
// page as "deviceMediaLoading"; the loader's device is the connected device it stands for.
class MediaLoaderRelay : public media::MediaLoaderDelegate {
public:
    MediaLoaderRelay(KolvexAppDelegate& delegate, std::shared_ptr<iMobileDevice> device)
        : delegate_(delegate), device_(std::move(device)) {}

    void beforeLoadingTracksOf(media::MediaDevice*) override;
    void playlistsLoadedOf(media::MediaDevice*) override;
    void finishLoadingTracksOf(media::MediaDevice*) override;
    void updateTrackInfoOf(const foundation::Value& track, media::MediaDevice*) override;
    void finishMatchingiTunesOf(media::MediaDevice*) override;

private:
    KolvexAppDelegate& delegate_;
    const std::shared_ptr<iMobileDevice> device_;
};

// Fills the page's library requests of the services: "load-device-library" finds the
// device, points a phone back at a fresh media file service, finds or makes the device's
// loader, registers it with the "/fetch" responder and loads it on the shared pool;
// "sync-library-status" queues a further match; a device that leaves has its matching
// stopped, then its loader dropped. Unknown devices are ignored. Matching goes to the given
// music library view, or the shared one. The delegate must outlive the loaders' jobs (it
// lives until the process ends).
void fillMediaLoading(AppServices& services, KolvexAppDelegate* const& delegate,
                      media::iTunesLibrary* library = nullptr);
