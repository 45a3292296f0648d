#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/PartialFiles.h"

namespace media {

// What the media loader reads of a device: its control folder, whether a file is there, a
// whole-file copy to the computer and a file's size. The device layer's devices are given to
// the loader through an adapter of this interface (the device layer itself reads media files,
// so it cannot be below this one). Safe to call from any thread.
class MediaDevice {
public:
    virtual ~MediaDevice() = default;
    // The identifier every registry and the page use.
    virtual std::string uuid() const = 0;
    // "iTunes_Control" on a phone, "iPod_Control" on a disk-mode iPod.
    virtual std::string iTunesControlPath() const = 0;
    virtual bool itemExistsAtPath(const std::string& path) = 0;
    // True only when every byte arrived at the computer path. The copy keeps its partial
    // file in `partials` (when given) and stops between pieces once they are withdrawn.
    virtual bool downloadFileTo(const std::string& devicePath, const std::string& computerPath,
                                const std::shared_ptr<foundation::PartialFiles>& partials) = 0;
    bool downloadFileTo(const std::string& devicePath, const std::string& computerPath) {
        return downloadFileTo(devicePath, computerPath, nullptr);
    }
    // 0 when missing.
    virtual std::uint64_t getSizeOfItemAtPath(const std::string& path) = 0;
    // At most `length` bytes of a file from `offset`, fewer when it ends first; nullopt when
    // it cannot be read.
    virtual std::optional<std::vector<std::uint8_t>> readFileAtPathOffsetLength(
        const std::string& path, std::uint64_t offset, std::uint64_t length) = 0;

    struct Entry {
        std::string name;
        std::string path;  // the full device path, fit to be listed in turn
        bool isDirectory = false;
    };
    // A folder's entries, all folders first and then all files; empty when unreadable.
    virtual std::vector<Entry> contentsOfDirectory(const std::string& path) = 0;
};

}  // namespace media
