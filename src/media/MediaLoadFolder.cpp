#include "media/MediaLoadFolder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "data/helpers/NSStringHelpers.h"
#include "foundation/Paths.h"
#include "logging/LogCall.h"

namespace media {

namespace {

constexpr const char* kFolderPrefix = "orvandel-media-";

// The folder itself, not a link to one; -1 when it is none.
int openFolder(const std::string& path) {
    return ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// Locks the open folder for good; false when another holds it or it is gone meanwhile.
bool lockFolder(int folder) {
    struct stat info {};
    return ::flock(folder, LOCK_EX | LOCK_NB) == 0 && ::fstat(folder, &info) == 0 &&
           info.st_nlink > 0;
}

}  // namespace

MediaLoadFolder::MediaLoadFolder(foundation::QuitGate gate) {
    pass_ = gate.enter([partials = partials_] { partials->withdraw(); });
    if (!pass_) {
        LogInfo("The application is quitting: the device's databases are not copied");
        return;
    }
    // Another instance starting may sweep a folder made here before it is locked: that one
    // goes, and another is made.
    for (int attempt = 0; attempt < 3 && path_.empty(); ++attempt) {
        std::string pattern = foundation::Paths::tempDir() + "/" + kFolderPrefix + "XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) break;
        const int folder = openFolder(pattern);
        if (folder >= 0 && lockFolder(folder)) {
            lock_ = folder;
            path_ = std::move(pattern);
        } else if (folder >= 0) {
            ::close(folder);
        }
    }
    if (path_.empty()) {
        LogError("Cannot make a temporary folder for the device's databases under {}",
                 foundation::Paths::tempDir());
    }
}

MediaLoadFolder::~MediaLoadFolder() {
    if (!path_.empty()) {
        std::error_code error;
        std::filesystem::remove_all(path_, error);
        if (error) LogError("Cannot remove {}: {}", path_, error.message());
    }
    if (lock_ >= 0) ::close(lock_);
    // Only now may the quit end the process.
    pass_.reset();
}

std::string MediaLoadFolder::localTempFilePathTo(MediaDevice& device, const std::string& devicePath,
                                                 const std::string& name) {
    const std::string local = path_.empty() ? std::string() : path_ + "/" + name;
    if (local.empty() || partials_->withdrawn() ||
        !device.downloadFileTo(devicePath, local, partials_)) {
        LogInfo("Failed to copy file [{}] to [{}]", devicePath, local);
    }
    if (!local.empty()) paths_.push_back(local);
    return local;
}

std::string MediaLoadFolder::localTempFilePath(MediaDevice& device, const std::string& devicePath) {
    return localTempFilePathTo(device, devicePath, NSString::guid());
}

void MediaLoadFolder::removeStaleFolders() {
    const std::string temporary = foundation::Paths::tempDir();
    std::vector<std::string> candidates;
    std::error_code error;
    for (std::filesystem::directory_iterator entry(temporary, error), end; !error && entry != end;
         entry.increment(error)) {
        if (entry->path().filename().string().starts_with(kFolderPrefix))
            candidates.push_back(entry->path().string());
    }
    for (const std::string& path : candidates) {
        const int folder = openFolder(path);
        if (folder < 0) continue;
        struct stat info {};
        // Only this user's, and only while no instance holds it: a running load keeps its
        // folder locked until it has removed it.
        if (::fstat(folder, &info) == 0 && info.st_uid == ::geteuid() &&
            ::flock(folder, LOCK_EX | LOCK_NB) == 0) {
            std::error_code removal;
            std::filesystem::remove_all(path, removal);
            if (removal) {
                LogError("Cannot remove {}: {}", path, removal.message());
            } else {
                LogInfo("Removed {}, which a load cut short left behind", path);
            }
        }
        ::close(folder);
    }
}

}  // namespace media
