#include "device/iPodDevice.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <sqlite3.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "data/db/SqlDatabase.h"
#include "data/db/SqlResultSet.h"
#include "data/helpers/NSFileManagerPaths.h"
#include "foundation/PathComponents.h"
#include "foundation/PropertyList.h"
#include "foundation/ReplacingFileWriter.h"
#include "foundation/Url.h"
#include "logging/Console.h"
#include "logging/LogCall.h"
#include "media/iTunesDBReader.h"
#include "platform/volumes/MountTable.h"
#include "platform/volumes/UsbSerial.h"
#include "platform/volumes/VolumeIdentity.h"

namespace fs = std::filesystem;
using foundation::Value;

namespace {

constexpr std::size_t kCopyChunk = 1 << 20;
constexpr auto kProgressInterval = std::chrono::milliseconds(100);
// The name read from a library database stops after this many checks of as many steps:
// far more than a real library needs, and a bounded wait on a hostile one.
constexpr int kNameQueryStepsPerCheck = 1000;
constexpr int kNameQueryBudget = 20000;

foundation::Date dateOf(const struct timespec& time) {
    return foundation::Date{static_cast<double>(time.tv_sec) + time.tv_nsec / 1e9};
}

foundation::Date now() {
    return foundation::Date{std::chrono::duration<double>(
                                std::chrono::system_clock::now().time_since_epoch())
                                .count()};
}

// Whether `path` is `root` or lies under it, comparing whole components.
bool isWithin(const fs::path& path, const fs::path& root) {
    auto p = path.begin();
    for (auto r = root.begin(); r != root.end(); ++r, ++p) {
        if (r->empty()) continue;  // a trailing separator of the root
        if (p == path.end() || *p != *r) return false;
    }
    return true;
}

// The nearest existing ancestor of `path` (or the path itself), with links resolved. A
// link whose target is missing gives nothing: creating through it would make its target,
// wherever that lies.
std::optional<fs::path> resolvedExisting(fs::path path) {
    std::error_code ec;
    while (!path.empty()) {
        if (fs::symlink_status(path, ec).type() != fs::file_type::not_found && !ec) {
            auto resolved = fs::canonical(path, ec);
            if (ec) return std::nullopt;
            return resolved;
        }
        if (path == path.parent_path()) break;
        path = path.parent_path();
    }
    return std::nullopt;
}

}  // namespace

iPodDevice::SerialLookup iPodDevice::systemSerialLookup() {
    return [](const std::string& mountPath) -> std::optional<std::string> {
        const auto device = volumes::deviceMountedAt(mountPath);
        return device ? volumes::usbSerialOfDeviceNode(*device) : std::nullopt;
    };
}

iPodDevice::VolumeIdLookup iPodDevice::systemVolumeIdLookup() {
    return [](const std::string& mountPath) -> std::optional<std::string> {
        const auto device = volumes::deviceMountedAt(mountPath);
        return device ? volumes::filesystemUuidOfDeviceNode(*device) : std::nullopt;
    };
}

iPodDevice::iPodDevice(const std::string& mountPath, const SerialLookup& serialLookup,
                       const VolumeIdLookup& volumeIdLookup)
    : mountPath_(mountPath) {
    GetPodInfo(serialLookup);
    // Without a serial two such players would share one (empty) identifier, and every
    // subsystem finds a device by it.
    if (!uuid_) uuid_ = volumeIdentifier(volumeIdLookup);
}

std::string iPodDevice::volumeIdentifier(const VolumeIdLookup& volumeIdLookup) const {
    if (volumeIdLookup) {
        if (auto id = volumeIdLookup(mountPath_); id && !id->empty()) return "volume-" + *id;
    }
    return mountPath_;
}

void iPodDevice::GetPodInfo(const SerialLookup& serialLookup) {
    if (serialLookup) uuid_ = serialLookup(mountPath_);
    if (uuid_ && uuid_->empty()) uuid_.reset();
    if (!uuid_) return;
    ConsoleLog("iPod serial: " + *uuid_);
    const auto folder = NSFileManager::GetPreferencesDirectory();
    if (!folder) return;
    std::ifstream in(*folder + "/com.apple.iPod.plist", std::ios::binary);
    if (!in) return;
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto preferences = foundation::plist::read(bytes);
    if (!preferences) return;
    const Value& entry = (*preferences)["Devices"][*uuid_];
    if (const std::string* serial = entry["Serial Number"].string()) serialNumber_ = *serial;
    if (const std::string* version = entry["Firmware Version String"].string())
        osVersion_ = *version;
    familyId_ = entry["Family ID"].toInt64().value_or(0);
}

std::optional<std::string> iPodDevice::confined(const std::string& path, bool followLast) const {
    if (path.find('\0') != std::string::npos) return std::nullopt;
    std::string_view rest = path;
    // A path already under the mount path (whole components) is taken from there.
    if (rest.starts_with(mountPath_) &&
        (rest.size() == mountPath_.size() || rest[mountPath_.size()] == '/' ||
         mountPath_.ends_with('/'))) {
        rest.remove_prefix(mountPath_.size());
    }
    std::vector<std::string_view> parts;
    while (!rest.empty()) {
        const auto slash = rest.find('/');
        const std::string_view part = rest.substr(0, slash);
        rest.remove_prefix(slash == std::string_view::npos ? rest.size() : slash + 1);
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (parts.empty()) return std::nullopt;  // above the volume's top
            parts.pop_back();
        } else {
            parts.push_back(part);
        }
    }
    std::string full = mountPath_;
    for (const auto part : parts) full = foundation::appendingPathComponent(full, part);

    // Links may not lead out of the volume: check what the path (or, for an operation on a
    // link itself, its folder) resolves to.
    std::error_code ec;
    const fs::path root = fs::canonical(mountPath_, ec);
    if (ec) return std::nullopt;
    const fs::path checked = followLast || parts.empty() ? fs::path(full) : fs::path(full).parent_path();
    const auto resolved = resolvedExisting(checked);
    if (!resolved || !isWithin(*resolved, root)) return std::nullopt;
    return full;
}

std::string iPodDevice::fullPath(const std::string& path) const {
    return confined(path).value_or("");
}

std::uint64_t iPodDevice::getSizeOfItemAtPath(const std::string& path) {
    const auto full = confined(path, false);
    struct stat info {};
    if (!full || ::lstat(full->c_str(), &info) != 0) return 0;
    return static_cast<std::uint64_t>(info.st_size);
}

foundation::Date iPodDevice::creationDateOfItemAtPath(const std::string& path) {
    const auto full = confined(path, false);
    struct statx info {};
    if (!full || ::statx(AT_FDCWD, full->c_str(), AT_SYMLINK_NOFOLLOW, STATX_BTIME, &info) != 0)
        return now();
    // File systems without birth times give the change time instead.
    const auto& time = (info.stx_mask & STATX_BTIME) ? info.stx_btime : info.stx_ctime;
    return foundation::Date{static_cast<double>(time.tv_sec) + time.tv_nsec / 1e9};
}

foundation::Date iPodDevice::modificationDateOfItemAtPath(const std::string& path) {
    const auto full = confined(path, false);
    struct stat info {};
    if (!full || ::lstat(full->c_str(), &info) != 0) return now();
    return dateOf(info.st_mtim);
}

bool iPodDevice::createDirectory(const std::string& path) {
    const auto full = confined(path);
    if (!full) return false;
    std::error_code ec;
    if (fs::is_directory(*full, ec)) return true;
    return fs::create_directories(*full, ec) && !ec;
}

bool iPodDevice::renameItemAtPathTo(const std::string& path, const std::string& newName) {
    const auto from = confined(path, false);
    if (!from || newName.empty()) return false;
    const auto to = confined(foundation::appendingPathComponent(
                                 foundation::deletingLastPathComponent(*from), newName),
                             false);
    if (!to || *from == mountPath_) return false;
    // A move never takes the place of what is already at the new name.
    if (::renameat2(AT_FDCWD, from->c_str(), AT_FDCWD, to->c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system that cannot be asked not to replace: look first.
    struct stat taken {};
    if (::lstat(to->c_str(), &taken) == 0 || errno != ENOENT) return false;
    return ::rename(from->c_str(), to->c_str()) == 0;
}

bool iPodDevice::deleteItemAtPath(const std::string& path) {
    const auto full = confined(path, false);
    if (!full || fs::path(*full) == fs::path(mountPath_)) return false;
    std::error_code ec;
    // remove_all takes a link away without following it.
    return fs::remove_all(*full, ec) > 0 && !ec;
}

bool iPodDevice::itemExistsAtPathIsDirectory(const std::string& path, bool* isDirectory) {
    if (isDirectory) *isDirectory = false;
    const auto full = confined(path);
    struct stat info {};
    if (!full || ::stat(full->c_str(), &info) != 0) return false;
    if (isDirectory) *isDirectory = S_ISDIR(info.st_mode);
    return true;
}

bool iPodDevice::isDirectoryAtPath(const std::string& path) {
    const auto full = confined(path, false);
    struct stat info {};
    return full && ::lstat(full->c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool iPodDevice::isLinkAtPath(const std::string& path) {
    const auto full = confined(path, false);
    struct stat info {};
    return full && ::lstat(full->c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

std::vector<iMobileFileSystemNode> iPodDevice::contentsOfDirectoryPathType(const std::string& path,
                                                                        std::int32_t pathType) {
    std::vector<iMobileFileSystemNode> folders, files;
    const auto full = confined(path);
    if (!full) return {};
    std::error_code ec;
    for (fs::directory_iterator it(*full, ec), end; !ec && it != end; it.increment(ec)) {
        // Links and other kinds are left out.
        const auto type = it->symlink_status(ec).type();
        const std::string name = it->path().filename().string();
        if (type == fs::file_type::directory) {
            folders.push_back(iMobileFileSystemNode::iMobileFileSystemNodeWithDirectoryParentDirectory(name, *full));
        } else if (type == fs::file_type::regular) {
            files.push_back(iMobileFileSystemNode::iMobileFileSystemNodeWithFileParentDirectory(name, *full));
        }
    }
    return arrangeByPathType(std::move(folders), std::move(files), pathType);
}

bool iPodDevice::copyFromTo(const std::string& source, const std::string& destination,
                            const CopyDelegate& delegate) {
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (in < 0) return false;
    if (::fstat(in, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(in);
        return false;
    }
    const auto total = static_cast<std::int64_t>(info.st_size);
    foundation::ReplacingFileWriter writer(destination,
                                           delegate ? delegate->partialFiles() : nullptr);
    bool ok = writer.open();
    std::vector<std::uint8_t> buffer(kCopyChunk);
    std::int64_t copied = 0;
    auto lastReport = std::chrono::steady_clock::now();
    while (ok) {
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        ok = writer.append(buffer.data(), static_cast<std::size_t>(got));
        copied += got;
        if (delegate && std::chrono::steady_clock::now() - lastReport >= kProgressInterval) {
            delegate->transferBytesOfTotal(copied, total);
            lastReport = std::chrono::steady_clock::now();
        }
        // A stop is seen between pieces; the unfinished copy is then removed.
        if (ok && delegate && !delegate->shouldContinue()) {
            LogInfo("iPod copy from {} to {} stopped", source, destination);
            ::close(in);
            return false;
        }
    }
    ::close(in);
    ok = ok && writer.commit();
    if (!ok) {
        LogError("iPod copy from {} to {} failed", source, destination);
        return false;
    }
    if (delegate) delegate->transferBytesOfTotal(copied, copied);
    return true;
}

bool iPodDevice::uploadFileFrom(const std::string& devicePath, const std::string& computerPath,
                                const CopyDelegate& delegate) {
    const auto full = confined(devicePath);
    return full && copyFromTo(computerPath, *full, delegate);
}

bool iPodDevice::downloadFileTo(const std::string& devicePath, const std::string& computerPath,
                                const CopyDelegate& delegate) {
    const auto full = confined(devicePath);
    return full && copyFromTo(*full, computerPath, delegate);
}

std::optional<foundation::Data> iPodDevice::contentsOfFileAtPath(const std::string& path) {
    return readFileAtPathOffsetLength(path, 0, UINT64_MAX);
}

std::optional<foundation::Data> iPodDevice::readFileAtPathOffsetLength(const std::string& path,
                                                                       std::uint64_t offset,
                                                                       std::uint64_t length) {
    const auto full = confined(path);
    if (!full) return std::nullopt;
    // Without waiting for a writer, should the path be a named pipe.
    const int fd = ::open(full->c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    struct stat info {};
    std::optional<foundation::Data> result;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        const auto size = static_cast<std::uint64_t>(info.st_size);
        const std::uint64_t wanted = offset >= size ? 0 : std::min(length, size - offset);
        foundation::Data data(static_cast<std::size_t>(wanted));
        std::size_t have = 0;
        bool failed = false;
        while (have < data.size()) {
            const ssize_t got = ::pread(fd, data.data() + have, data.size() - have,
                                        static_cast<off_t>(offset + have));
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) failed = true;
            if (got <= 0) break;
            have += static_cast<std::size_t>(got);
        }
        if (!failed) {
            data.resize(have);  // the file may have shrunk meanwhile
            result = std::move(data);
        }
    }
    ::close(fd);
    return result;
}

bool iPodDevice::appendDataToPath(const foundation::Data& data, const std::string& path) {
    const auto full = confined(path);
    if (!full) return false;
    const int fd = ::open(full->c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd < 0) return false;
    std::size_t written = 0;
    while (written < data.size()) {
        const ssize_t put = ::write(fd, data.data() + written, data.size() - written);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) break;
        written += static_cast<std::size_t>(put);
    }
    return ::close(fd) == 0 && written == data.size();
}

bool iPodDevice::writeDataToPath(const foundation::Data& data, const std::string& path) {
    const auto full = confined(path);
    if (!full) return false;
    foundation::ReplacingFileWriter writer(*full);
    return writer.open() && writer.append(data.data(), data.size()) && writer.commit();
}

std::string iPodDevice::name() {
    std::lock_guard lock(nameMutex_);
    if (!deviceName_) deviceName_ = getDeviceName();
    return *deviceName_;
}

std::string iPodDevice::getDeviceName() const {
    const std::string control = mountPath_ + "/iPod_Control";
    const std::string library = control + "/iTunes/iTunes Library.itlp/Library.itdb";
    std::error_code ec;
    if (fs::exists(library, ec)) return nameFromLibrary(library).value_or("iPod");
    std::string database = control + "/iTunes/iTunesDB";
    if (!fs::exists(database, ec)) database = control + "/iTunesDB";
    return getNameFromDB(database).value_or("Unknown iPod");
}

std::optional<std::string> iPodDevice::getNameFromDB(const std::string& path) {
    return media::iTunesDBReader::masterPlaylistNameOfFile(path);
}

std::optional<std::string> iPodDevice::readMHLP(media::ByteCursor& set) {
    return media::iTunesDBReader::masterPlaylistNameInList(set);
}

std::optional<std::string> iPodDevice::readMHODStringLength(media::ByteCursor& cursor,
                                                            std::uint32_t length) {
    return media::iTunesDBReader::readUtf16Text(cursor, length);
}

std::optional<std::string> iPodDevice::nameFromLibrary(const std::string& library) {
    // The volume is the device's to shape: only a regular file is opened (a named pipe
    // would never answer), only tables are asked (a view may never yield a row), and the
    // work is bounded all the same.
    std::error_code ec;
    if (!fs::is_regular_file(library, ec)) return std::nullopt;
    // Immutable: no journal or write-ahead log beside it is looked at, whatever they are.
    auto db = SqlDatabase::databaseWithPath(
        "file:" + foundation::Url::percentEncode(library, "/") + "?immutable=1");
    if (!db->openWithFlags(SQLITE_OPEN_READONLY | SQLITE_OPEN_URI)) return std::nullopt;
    int budget = kNameQueryBudget;
    sqlite3_progress_handler(
        db->sqliteHandle(), kNameQueryStepsPerCheck,
        [](void* left) { return --*static_cast<int*>(left) < 0 ? 1 : 0; }, &budget);
    const auto isTable = [&](const char* name) {
        auto rows = db->executeQuery("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?", name);
        const bool found = rows && rows->next();
        if (rows) rows->close();
        return found;
    };
    std::optional<std::string> name;
    if (isTable("db_info") && isTable("container")) {
        std::optional<std::string> pid;
        if (auto rows = db->executeQuery("SELECT * FROM db_info;"); rows && rows->next()) {
            pid = rows->stringForColumn("primary_container_pid");
            rows->close();
        }
        if (pid) {
            auto rows = db->executeQuery("SELECT name FROM container WHERE pid=?", *pid);
            if (rows && rows->next()) name = rows->stringForColumn("name");
            if (rows) rows->close();
        }
    }
    sqlite3_progress_handler(db->sqliteHandle(), 0, nullptr, nullptr);
    db->close();
    return name;
}

std::uint64_t iPodDevice::capacity() {
    struct statvfs info {};
    if (::statvfs(mountPath_.c_str(), &info) != 0) return 0;
    return static_cast<std::uint64_t>(info.f_blocks) * info.f_frsize;
}

std::uint64_t iPodDevice::freeCapacity() {
    struct statvfs info {};
    if (::statvfs(mountPath_.c_str(), &info) != 0) return 0;
    return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
}

Value iPodDevice::deviceValueForKeyInDomain(const std::string&, const std::string&) {
    return Value::dict({
        {"deviceId", uuid()},
        {"firmwire", firmwareVersion().value_or("")},
        {"name", name()},
        {"serial", serialNumber().value_or("")},
        {"capacity", capacity()},
        {"freeCapacity", freeCapacity()},
        {"deviceType", deviceType()},
        {"familyID", familyId_},
        {"osversion", osVersion_.value_or("")},
    });
}

int iPodDevice::PodType() const {
    if (familyId_ < 7) return 1;
    if (familyId_ == 11) return 2;
    if (familyId_ < 21) return 3;
    if (familyId_ >= 101 && familyId_ <= 199) return 4;
    return 0;
}
