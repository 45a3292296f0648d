#include "app/MediaLoaderRelay.h"

#include "content/AppFetchHandler.h"
#include "content/ThreadPool.h"
#include "device/iMobileMediaDevice.h"
#include "media/MediaLoader.h"
#include "shell/KolvexAppDelegate.h"

void MediaLoaderRelay::beforeLoadingTracksOf(media::MediaDevice*) {
    delegate_.beforeLoadingTracksOf(*device_);
}

void MediaLoaderRelay::playlistsLoadedOf(media::MediaDevice*) {
    delegate_.playlistsLoadedOf(*device_);
}

void MediaLoaderRelay::finishLoadingTracksOf(media::MediaDevice*) {
    delegate_.finishLoadingTracksOf(*device_);
}

void MediaLoaderRelay::updateTrackInfoOf(const foundation::Value& track, media::MediaDevice*) {
    delegate_.updateTrackInfoOf(track, *device_);
}

void MediaLoaderRelay::finishMatchingiTunesOf(media::MediaDevice*) {
    delegate_.finishMatchingiTunesOf(*device_);
}

namespace {

std::shared_ptr<media::MediaLoader> registeredLoader(const std::string& deviceId) {
    return std::dynamic_pointer_cast<media::MediaLoader>(
        content::AppFetchHandler::mediaLoaderOf(deviceId));
}

}  // namespace

void fillMediaLoading(AppServices& services, KolvexAppDelegate* const& delegate,
                      media::iTunesLibrary* library) {
    services.loadDeviceLibrary = [&delegate, library](const std::string& deviceId) {
        auto device = std::dynamic_pointer_cast<iMobileDevice>(
            delegate ? delegate->findMobileDeviceById(deviceId) : nullptr);
        if (!device) return;
        auto loader = registeredLoader(deviceId);
        if (!loader) {
            loader = media::MediaLoader::initWithDevice(
                std::make_shared<iMobileMediaDevice>(device), library);
            loader->setDelegate(std::make_shared<MediaLoaderRelay>(*delegate, device));
            content::AppFetchHandler::setMediaLoaderOf(loader, deviceId);
        }
        // A fresh media file service for the load, opened by the job (the main thread never
        // talks to a device); the loader's calls reach it whatever the page makes current.
        ThreadPool::addAsyncJobWithBlock([device, loader] {
            if (device->respondsToConnect()) device->connect(false);
            loader->load();
        });
    };
    services.syncLibraryStatus = [](const std::string& deviceId) {
        if (auto loader = registeredLoader(deviceId)) loader->syncLibraryStatus();
    };
    services.cancelMatching = [](const std::string& deviceId) {
        if (auto loader = content::AppFetchHandler::mediaLoaderOf(deviceId))
            loader->cancelMatching();
    };
    services.dropMediaLoader = [](const std::string& deviceId) {
        content::AppFetchHandler::removeMediaLoaderOf(deviceId);
    };
}
