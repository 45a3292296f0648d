#pragma once

#include <memory>
#include <string>
#include <vector>

#include "foundation/PartialFiles.h"
#include "foundation/QuitGate.h"
#include "media/MediaDevice.h"

namespace media {

// A private folder under the temporary directory for the copies of one load, removed with
// everything in it when the object goes, also when the load ends by an exception. Loads of
// different devices (or of one device twice) never share a name, so the fixed names of the
// media library's copies ("iTunesDB.sqlite" with its "-wal" and "-shm") are safe inside it.
//
// The folder holds a pass of the quit gate while it exists: a quit stops the copy under way
// (its partial file goes at once) and every later one, and waits for the folder to go. Once
// the quit has begun no folder is made and every copy fails. The folder is locked while it
// exists, so that a later start of the application tells it from one an instance left
// behind when its process was cut off.
class MediaLoadFolder {
public:
    explicit MediaLoadFolder(foundation::QuitGate gate = foundation::QuitGate::application());
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

    // Removes the load folders under the temporary directory that no running instance
    // holds: those of a process that ended before it could remove them.
    static void removeStaleFolders();

private:
    std::shared_ptr<foundation::PartialFiles> partials_ = std::make_shared<foundation::PartialFiles>();
    std::unique_ptr<foundation::QuitGate::Pass> pass_;
    int lock_ = -1;  // the folder, open and locked while it exists
    std::string path_;
    std::vector<std::string> paths_;
};

}  // namespace media
