#pragma once

#include <map>
#include <optional>
#include <string>

#include "files/MusicImportServices.h"
#include "files/WVMobileDeviceFilesystemPlugin.h"

// "device-additunes" imports a device track, already copied to the computer, into the
// music library (optionally into a playlist) and marks the device library's record as
// copied; a track the library already holds is not imported again;
// "device-update-track-itunes-meta" writes a device track's tags onto its library copy. Both need
// the device's loaded media library.
class MusicImportCommands {
public:
    using Plugin = WVMobileDeviceFilesystemPlugin;

    // Added by the process entry, which has the media layer at hand.
    static void addTo(std::map<std::string, Plugin::Command>& commands, MusicImportServices services);

    static foundation::Value addToITunes(const MusicImportServices& services, Plugin::Request& request);
    static foundation::Value updateTrackMeta(const MusicImportServices& services, Plugin::Request& request);
    // Adds the imported record to the named playlist, or else to the first user (then
    // public) playlist of the device that holds it. False only when the library has no
    // file for the record and none exists at its "macpath".
    static bool addTrackToITunesMediaLoaderToPlaylist(const MusicImportServices& services,
                                                      foundation::Value& track,
                                                      const DeviceTrackLibrary& loader,
                                                      const std::optional<std::string>& playlist);
};
