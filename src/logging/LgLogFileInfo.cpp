#include "logging/LgLogFileInfo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>

#include <fmt/format.h>

#include "foundation/ConsolePrint.h"
#include "foundation/Error.h"
#include "logging/LgDateFormatter.h"

namespace {

LgLogFileInfo::Clock::time_point toTimePoint(const struct statx_timestamp& stamp) {
    return LgLogFileInfo::Clock::time_point(
        std::chrono::duration_cast<LgLogFileInfo::Clock::duration>(
            std::chrono::seconds(stamp.tv_sec) + std::chrono::nanoseconds(stamp.tv_nsec)));
}

// "<identifier> yyyy-MM-dd--HH-mm-ss-SSS.log": the time of the last piece of the name.
std::optional<LgLogFileInfo::Clock::time_point> dateInName(const std::string& fileName) {
    static const LgDateFormatter formatter(kLgLogFileNameDatePattern);
    const auto space = fileName.find_last_of(' ');
    std::string piece = space == std::string::npos ? fileName : fileName.substr(space + 1);
    if (piece.size() > 4 && piece.compare(piece.size() - 4, 4, ".log") == 0) {
        piece.resize(piece.size() - 4);
    }
    return formatter.parse(piece);
}

// Marks kept in memory for files whose file system refuses extended attributes. Shared by
// every record of the process, since each listing makes new records.
class MarksInMemory {
public:
    static MarksInMemory& shared() {
        static auto* const marks = new MarksInMemory();
        return *marks;
    }
    void refused(const std::string& attribute) {
        std::call_once(announced_, [&] {
            foundation::printToConsole("LgLogFileInfo: the file system refuses extended attributes; \"{}\" is "
                       "kept in memory for this run only\n",
                       attribute);
        });
    }
    bool has(const std::string& path, const std::string& name) {
        std::lock_guard lock(mutex_);
        return marks_.count({path, name}) != 0;
    }
    void set(const std::string& path, const std::string& name, bool on) {
        std::lock_guard lock(mutex_);
        if (on) {
            marks_.insert({path, name});
        } else {
            marks_.erase({path, name});
        }
    }
    void move(const std::string& from, const std::string& to) {
        std::lock_guard lock(mutex_);
        std::set<std::pair<std::string, std::string>> moved;
        for (auto it = marks_.begin(); it != marks_.end();) {
            if (it->first == from) {
                moved.insert({to, it->second});
                it = marks_.erase(it);
            } else {
                ++it;
            }
        }
        marks_.merge(moved);
    }

private:
    std::mutex mutex_;
    std::once_flag announced_;
    std::set<std::pair<std::string, std::string>> marks_;
};

bool refusesAttributes(int error) {
    return error == ENOTSUP || error == EPERM;
}

std::string folderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string isoTime(const std::optional<LgLogFileInfo::Clock::time_point>& moment) {
    static const LgDateFormatter formatter("yyyy-MM-dd HH:mm:ss:SSS +0000");
    return moment ? formatter.format(*moment) : "(null)";
}

}  // namespace

std::shared_ptr<LgLogFileInfo> LgLogFileInfo::logFileWithPath(const std::string& filePath) {
    if (filePath.empty()) return nullptr;
    return std::make_shared<LgLogFileInfo>(filePath);
}

LgLogFileInfo::LgLogFileInfo(std::string filePath) : filePath_(std::move(filePath)) {
    if (filePath_.empty()) {
        throw foundation::NamedException("NSInternalInconsistencyException",
                                         "Invalid parameter not satisfying: aFilePath");
    }
}

const std::string& LgLogFileInfo::fileName() {
    if (!fileName_) {
        const auto slash = filePath_.find_last_of('/');
        fileName_ = slash == std::string::npos ? filePath_ : filePath_.substr(slash + 1);
    }
    return *fileName_;
}

const std::optional<LgLogFileInfo::FileAttributes>& LgLogFileInfo::fileAttributes() {
    if (attributesRead_) return fileAttributes_;
    attributesRead_ = true;
    struct statx status {};
    if (statx(AT_FDCWD, filePath_.c_str(), 0, STATX_SIZE | STATX_MTIME | STATX_BTIME, &status) !=
        0) {
        foundation::printToConsole("LgLogFileInfo: Failed to read file attributes: {}: {}\n", filePath_,
                   std::strerror(errno));
        fileAttributes_.reset();
        return fileAttributes_;
    }
    FileAttributes attributes;
    attributes.size = status.stx_size;
    if (status.stx_mask & STATX_MTIME) attributes.modificationDate = toTimePoint(status.stx_mtime);
    if (status.stx_mask & STATX_BTIME) {
        attributes.creationDate = toTimePoint(status.stx_btime);
    } else {
        attributes.creationDate = dateInName(fileName());
        if (!attributes.creationDate) attributes.creationDate = attributes.modificationDate;
    }
    fileAttributes_ = attributes;
    return fileAttributes_;
}

std::optional<LgLogFileInfo::Clock::time_point> LgLogFileInfo::creationDate() {
    const auto& attributes = fileAttributes();
    return attributes ? attributes->creationDate : std::nullopt;
}

std::optional<LgLogFileInfo::Clock::time_point> LgLogFileInfo::modificationDate() {
    const auto& attributes = fileAttributes();
    return attributes ? attributes->modificationDate : std::nullopt;
}

std::uint64_t LgLogFileInfo::fileSize() {
    if (fileSize_ == 0) {
        if (attributesRead_ && fileAttributes_ && fileAttributes_->size == 0) {
            attributesRead_ = false;  // read again: the file may have grown
        }
        const auto& attributes = fileAttributes();
        fileSize_ = attributes ? attributes->size : 0;
    }
    return fileSize_;
}

double LgLogFileInfo::age() {
    const auto created = creationDate();
    if (!created) return 0;
    return std::chrono::duration<double>(Clock::now() - *created).count();
}

bool LgLogFileInfo::isArchived() {
    return hasExtendedAttributeWithName(kArchivedAttributeName);
}

void LgLogFileInfo::setIsArchived(bool archived) {
    if (archived) {
        addExtendedAttributeWithName(kArchivedAttributeName);
    } else {
        removeExtendedAttributeWithName(kArchivedAttributeName);
    }
}

bool LgLogFileInfo::hasExtendedAttributeWithName(const std::string& name) {
    unsigned char value = 0;
    const ssize_t length = getxattr(filePath_.c_str(), name.c_str(), &value, 1);
    if (length == 1 && value == 1) return true;
    if (length == 0 || length == 1) {
        // Present but not in our form: it still marks the file; store it as we write it.
        addExtendedAttributeWithName(name);
        return true;
    }
    if (refusesAttributes(errno)) return MarksInMemory::shared().has(filePath_, name);
    return false;
}

void LgLogFileInfo::addExtendedAttributeWithName(const std::string& name) {
    const unsigned char value = 1;
    if (setxattr(filePath_.c_str(), name.c_str(), &value, 1, 0) == 0) return;
    const int error = errno;
    if (refusesAttributes(error)) {
        MarksInMemory::shared().refused(name);
        MarksInMemory::shared().set(filePath_, name, true);
    } else if (error != ENOENT) {
        foundation::printToConsole("LgLogFileInfo: setxattr({}, {}): error = {}\n", name, filePath_,
                   std::strerror(error));
    }
}

void LgLogFileInfo::removeExtendedAttributeWithName(const std::string& name) {
    if (removexattr(filePath_.c_str(), name.c_str()) == 0) return;
    const int error = errno;
    if (refusesAttributes(error)) {
        MarksInMemory::shared().set(filePath_, name, false);
    } else if (error != ENODATA) {
        foundation::printToConsole("LgLogFileInfo: removexattr({}, {}): error = {}\n", name, fileName(),
                   std::strerror(error));
    }
}

void LgLogFileInfo::reset() {
    fileName_.reset();
    attributesRead_ = false;
    fileAttributes_.reset();
}

void LgLogFileInfo::renameFile(const std::string& newName) {
    if (newName == fileName()) return;
    const std::string newPath = folderOf(filePath_) + newName;
    if (std::remove(newPath.c_str()) != 0 && errno != ENOENT) {
        foundation::printToConsole("LgLogFileInfo: Error deleting archive ({}): {}\n", fileName(),
                   std::strerror(errno));
    }
    if (std::rename(filePath_.c_str(), newPath.c_str()) != 0) {
        foundation::printToConsole("LgLogFileInfo: Error renaming file ({}): {}\n", fileName(),
                   std::strerror(errno));
    } else {
        MarksInMemory::shared().move(filePath_, newPath);
    }
    filePath_ = newPath;
    reset();
}

bool LgLogFileInfo::reverseCompareByCreationDate(LgLogFileInfo& other) {
    const auto mine = creationDate().value_or(Clock::now());
    const auto theirs = other.creationDate().value_or(Clock::now());
    return mine > theirs;
}

bool LgLogFileInfo::reverseCompareByModificationDate(LgLogFileInfo& other) {
    const auto mine = modificationDate().value_or(Clock::now());
    const auto theirs = other.modificationDate().value_or(Clock::now());
    return mine > theirs;
}

std::string LgLogFileInfo::description() {
    const auto& attributes = fileAttributes();
    const std::string attributesText =
        attributes ? fmt::format("{{fileSize = {}; fileCreationDate = {}; "
                                 "fileModificationDate = {};}}",
                                 attributes->size, isoTime(attributes->creationDate),
                                 isoTime(attributes->modificationDate))
                   : "{}";
    return fmt::format(
        "{{filePath = \"{}\"; fileName = \"{}\"; fileAttributes = {}; creationDate = {}; "
        "modificationDate = {}; fileSize = {}; age = {:.3f}; isArchived = {};}}",
        filePath(), fileName(), attributesText, isoTime(creationDate()),
        isoTime(modificationDate()), fileSize(), age(), isArchived() ? "YES" : "NO");
}
