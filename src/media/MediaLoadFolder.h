#pragma once

#include <string>
#include <vector>

#include "media/MediaDevice.h"

namespace media {

// A private folder under the temporary directory for the copies of one load, removed with
// everything in it when the object goes, also when the load ends by an exception. Loads of
// different devices (or of one device twice) never share a name, so the fixed names of the
// media library's copies ("iTunesDB.sqlite" with its "-wal" and "-shm") are safe inside it.
class MediaLoadFolder {
public:
    MediaLoadFolder();
    ~MediaLoadFolder();
    MediaLoadFolder(const MediaLoadFolder&) = delete;
    MediaLoadFolder& operator=(const MediaLoadFolder&) = delete;

    // Empty when the folder could not be made (every copy then fails).
    const std::string& path() const { return path_; }
    // Copies the device file into the folder under the name and gives the local path, also
    // when the copy failed (which is logged): the readers then find nothing there.
    std::string localTempFilePathTo(MediaDevice& device, const std::string& devicePath,
                                    const std::string& name);
    // The same under a new unique name.
    std::string localTempFilePath(MediaDevice& device, const std::string& devicePath);
    // Every local path handed out so far, in order, copied or not.
    const std::vector<std::string>& paths() const { return paths_; }

private:
    std::string path_;
    std::vector<std::string> paths_;
};

}  // namespace media
