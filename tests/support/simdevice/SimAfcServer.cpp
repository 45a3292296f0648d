#include "simdevice/SimAfcServer.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "simdevice/SimWire.h"

namespace simdevice {

namespace {

// Status codes of the protocol.
enum : std::uint64_t {
    kSuccess = 0,
    kUnknownError = 1,
    kUnknownPacketType = 6,
    kInvalidArgument = 7,
    kObjectNotFound = 8,
    kObjectIsDirectory = 9,
    kPermissionDenied = 10,
    kObjectExists = 16,
    kNoSpaceLeft = 18,
    kWouldBlock = 19,
    kIoError = 20,
    kDirectoryNotEmpty = 33,
};

constexpr std::uint64_t kMaxReadLength = 8u << 20;
constexpr std::uint64_t kShortReadLength = 1000;
constexpr const char* kDeeper = "deeper";
constexpr const char* kClaimedSize = "100";

bool endsInDeeper(const std::string& path) {
    return path == kDeeper || path.ends_with(std::string("/") + kDeeper);
}

std::uint64_t statusFor(int error) {
    switch (error) {
        case 0:
            return kSuccess;
        case ENOENT:
        case ENOTDIR:
            return kObjectNotFound;
        case EISDIR:
            return kObjectIsDirectory;
        case EACCES:
        case EPERM:
        case EXDEV:
        case ELOOP:
            return kPermissionDenied;
        case EEXIST:
            return kObjectExists;
        case ENOTEMPTY:
            return kDirectoryNotEmpty;
        case ENOSPC:
            return kNoSpaceLeft;
        case EWOULDBLOCK:
            return kWouldBlock;
        case EINVAL:
        case ENAMETOOLONG:
            return kInvalidArgument;
        case EIO:
            return kIoError;
        default:
            return kUnknownError;
    }
}

SimAfcServer::Reply status(std::uint64_t code) {
    SimAfcServer::Reply reply;
    appendLittle64(reply.data, code);
    return reply;
}

SimAfcServer::Reply errnoStatus(int negativeOrZero) {
    return status(statusFor(-negativeOrZero));
}

SimAfcServer::Reply dataReply(std::vector<std::uint8_t> payload) {
    SimAfcServer::Reply reply;
    reply.operation = afc::kData;
    reply.payload = std::move(payload);
    return reply;
}

void appendText(std::vector<std::uint8_t>& bytes, const std::string& text) {
    bytes.insert(bytes.end(), text.begin(), text.end());
    bytes.push_back(0);
}

int orErrno(int result) {
    return result < 0 ? -errno : 0;
}

const char* kindOf(mode_t mode) {
    switch (mode & S_IFMT) {
        case S_IFDIR:
            return "S_IFDIR";
        case S_IFLNK:
            return "S_IFLNK";
        case S_IFCHR:
            return "S_IFCHR";
        case S_IFBLK:
            return "S_IFBLK";
        case S_IFIFO:
            return "S_IFIFO";
        case S_IFSOCK:
            return "S_IFSOCK";
        default:
            return "S_IFREG";
    }
}

std::uint64_t nanoseconds(const statx_timestamp& t) {
    return static_cast<std::uint64_t>(t.tv_sec) * 1000000000u + t.tv_nsec;
}

// Deletes what the entry names, folders with everything in them, without following links.
int removeTree(int parent, const std::string& name) {
    struct stat info {};
    if (::fstatat(parent, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return -errno;
    if (!S_ISDIR(info.st_mode)) return orErrno(::unlinkat(parent, name.c_str(), 0));
    const int fd = ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return -errno;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return -EIO;
    }
    std::vector<std::string> names;
    while (dirent* item = ::readdir(dir)) {
        const std::string child = item->d_name;
        if (child != "." && child != "..") names.push_back(child);
    }
    int result = 0;
    for (const auto& child : names) {
        if ((result = removeTree(::dirfd(dir), child)) != 0) break;
    }
    ::closedir(dir);
    return result != 0 ? result : orErrno(::unlinkat(parent, name.c_str(), AT_REMOVEDIR));
}

}  // namespace

SimAfcServer::SimAfcServer(const std::string& root, SimAfcVolume volume, SimAfcHostility hostility)
    : folder_(root), volume_(std::move(volume)), hostility_(hostility) {}

void SimAfcServer::serve(int fd) {
    for (;;) {
        auto request = readAfcPacket(fd);
        if (!request) return;
        Reply reply = answer(*request);
        const bool hostileRead =
            request->operation == afc::kFileRead || request->operation == afc::kReadDirectory;
        if (hostileRead && reply.operation == afc::kData &&
            (hostility_ == SimAfcHostility::HugeLength ||
             hostility_ == SimAfcHostility::Truncated)) {
            const std::uint64_t claimed = hostility_ == SimAfcHostility::HugeLength
                                              ? afc::kHeaderLength + 0xfffffff0u
                                              : afc::kHeaderLength + reply.payload.size() + 64;
            auto bytes = afcHeader(claimed, afc::kHeaderLength, request->number, afc::kData);
            bytes.insert(bytes.end(), reply.payload.begin(),
                         reply.payload.begin() + static_cast<long>(reply.payload.size() / 2));
            writeAll(fd, bytes.data(), bytes.size());
            return;
        }
        if (!writeAfcPacket(fd, request->number, reply.operation, reply.data, reply.payload)) {
            return;
        }
    }
}

SimAfcServer::Reply SimAfcServer::answer(const SimAfcPacket& request) {
    SimAfcArguments args(request.data);
    switch (request.operation) {
        case afc::kReadDirectory:
            return readDirectory(args);
        case afc::kFileInfo:
            return fileInfo(args);
        case afc::kDeviceInfo:
            return deviceInfo();
        case afc::kMakeDirectory:
            return makeDirectory(args);
        case afc::kRemovePath:
            return removePath(args, false);
        case afc::kRemovePathAndContents:
            return removePath(args, true);
        case afc::kRenamePath:
            return renamePath(args);
        case afc::kMakeLink:
            return makeLink(args);
        case afc::kSetFileModTime:
            return setModificationTime(args);
        case afc::kTruncatePath:
            return truncatePath(args);
        case afc::kFileOpen:
            return openFile(args);
        case afc::kFileRead:
        case afc::kFileWrite:
        case afc::kFileSeek:
        case afc::kFileTell:
        case afc::kFileClose:
        case afc::kFileSetSize:
        case afc::kFileLock:
            return fileCall(request.operation, args);
        default:
            return status(kUnknownPacketType);
    }
}

SimAfcServer::Reply SimAfcServer::readDirectory(SimAfcArguments& args) {
    auto path = args.text();
    if (!path) return status(kInvalidArgument);
    const bool endless = hostility_ == SimAfcHostility::EndlessFolders;
    const int fd = folder_.open(*path, O_RDONLY | O_DIRECTORY);
    if (fd < 0 && endless && endsInDeeper(*path)) {
        std::vector<std::uint8_t> payload;
        for (const char* name : {".", "..", kDeeper}) appendText(payload, name);
        return dataReply(std::move(payload));
    }
    if (fd < 0) return errnoStatus(fd);
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return status(kIoError);
    }
    std::vector<std::string> names;
    while (dirent* item = ::readdir(dir)) {
        const std::string name = item->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    names.insert(names.begin(), {".", ".."});
    if (hostility_ == SimAfcHostility::BadEntryNames) {
        names.insert(names.end(), {"../outside.txt", "nested/name.txt", "/absolute.txt"});
    }
    if (endless) names.push_back(kDeeper);
    std::vector<std::uint8_t> payload;
    for (const auto& name : names) appendText(payload, name);
    return dataReply(std::move(payload));
}

SimAfcServer::Reply SimAfcServer::fileInfo(SimAfcArguments& args) {
    auto path = args.text();
    if (!path) return status(kInvalidArgument);
    if (hostility_ == SimAfcHostility::EndlessFolders && endsInDeeper(*path)) {
        std::vector<std::uint8_t> payload;
        for (const char* text : {"st_size", "0", "st_ifmt", "S_IFDIR", "st_nlink", "2"}) appendText(payload, text);
        return dataReply(std::move(payload));
    }
    struct statx info {};
    SimConfinedFolder::Entry entry;
    std::string linkTarget;
    const unsigned mask = STATX_BASIC_STATS | STATX_BTIME;
    if (folder_.entry(*path, &entry) == 0) {
        if (::statx(entry.parent.get(), entry.name.c_str(), AT_SYMLINK_NOFOLLOW, mask, &info)) {
            return errnoStatus(-errno);
        }
        if (S_ISLNK(info.stx_mode)) {
            char target[4096];
            const ssize_t n =
                ::readlinkat(entry.parent.get(), entry.name.c_str(), target, sizeof target);
            if (n > 0) linkTarget.assign(target, static_cast<std::size_t>(n));
        }
    } else {
        // The root, "." or "..": a folder reached through the path as a whole.
        SimFd fd(folder_.open(*path, O_PATH | O_DIRECTORY));
        if (!fd) return errnoStatus(fd.get());
        if (::statx(fd.get(), "", AT_EMPTY_PATH, mask, &info) != 0) return errnoStatus(-errno);
    }
    const std::uint64_t modified = nanoseconds(info.stx_mtime);
    const std::uint64_t born =
        (info.stx_mask & STATX_BTIME) ? nanoseconds(info.stx_btime) : modified;
    std::vector<std::uint8_t> payload;
    auto pair = [&](const std::string& key, const std::string& value) {
        appendText(payload, key);
        appendText(payload, value);
    };
    const bool lies = hostility_ == SimAfcHostility::LiesAboutSizes && S_ISREG(info.stx_mode);
    pair("st_size", lies ? kClaimedSize : std::to_string(info.stx_size));
    pair("st_blocks", std::to_string(info.stx_blocks));
    pair("st_nlink", std::to_string(info.stx_nlink));
    pair("st_ifmt", kindOf(info.stx_mode));
    pair("st_mtime", std::to_string(modified));
    pair("st_birthtime", std::to_string(born));
    if (!linkTarget.empty()) pair("LinkTarget", linkTarget);
    return dataReply(std::move(payload));
}

SimAfcServer::Reply SimAfcServer::deviceInfo() {
    std::vector<std::uint8_t> payload;
    for (const auto& [key, value] : {std::pair<std::string, std::string>{"Model", volume_.model},
                                     {"FSTotalBytes", std::to_string(volume_.totalBytes)},
                                     {"FSFreeBytes", std::to_string(volume_.freeBytes)},
                                     {"FSBlockSize", "4096"}}) {
        appendText(payload, key);
        appendText(payload, value);
    }
    return dataReply(std::move(payload));
}

SimAfcServer::Reply SimAfcServer::makeDirectory(SimAfcArguments& args) {
    // Like a phone, missing parents are made too, and a folder already there is no error.
    auto path = args.text();
    if (!path) return status(kInvalidArgument);
    std::size_t end = 0;
    int result = -EINVAL;
    while (end != std::string::npos) {
        end = path->find('/', end + 1);
        const std::string prefix = path->substr(0, end);
        SimConfinedFolder::Entry entry;
        if (folder_.entry(prefix, &entry) != 0) continue;  // the root, "." or ".."
        result = orErrno(::mkdirat(entry.parent.get(), entry.name.c_str(), 0755));
        if (result == -EEXIST) {
            SimFd existing(folder_.open(prefix, O_PATH | O_DIRECTORY));
            if (existing) result = 0;
        }
        if (result != 0) break;
    }
    return errnoStatus(result);
}

SimAfcServer::Reply SimAfcServer::removePath(SimAfcArguments& args, bool withContents) {
    auto path = args.text();
    SimConfinedFolder::Entry entry;
    if (!path) return status(kInvalidArgument);
    if (int error = folder_.entry(*path, &entry)) return errnoStatus(error);
    const int parent = entry.parent.get();
    const char* name = entry.name.c_str();
    if (withContents) return errnoStatus(removeTree(parent, entry.name));
    if (::unlinkat(parent, name, 0) == 0) return status(kSuccess);
    if (errno != EISDIR && errno != EPERM) return errnoStatus(-errno);
    return errnoStatus(orErrno(::unlinkat(parent, name, AT_REMOVEDIR)));
}

SimAfcServer::Reply SimAfcServer::renamePath(SimAfcArguments& args) {
    auto from = args.text();
    auto to = args.text();
    SimConfinedFolder::Entry source;
    SimConfinedFolder::Entry target;
    if (!from || !to) return status(kInvalidArgument);
    if (int error = folder_.entry(*from, &source)) return errnoStatus(error);
    if (int error = folder_.entry(*to, &target)) return errnoStatus(error);
    return errnoStatus(orErrno(::renameat(source.parent.get(), source.name.c_str(),
                                          target.parent.get(), target.name.c_str())));
}

SimAfcServer::Reply SimAfcServer::makeLink(SimAfcArguments& args) {
    auto type = args.number();
    auto target = args.text();
    auto path = args.text();
    SimConfinedFolder::Entry link;
    if (!type || !target || !path || target->empty()) return status(kInvalidArgument);
    if (int error = folder_.entry(*path, &link)) return errnoStatus(error);
    if (*type == 2) {
        // The target stays text; it is resolved inside the folder whenever it is followed.
        return errnoStatus(
            orErrno(::symlinkat(target->c_str(), link.parent.get(), link.name.c_str())));
    }
    if (*type != 1) return status(kInvalidArgument);
    SimConfinedFolder::Entry existing;
    if (int error = folder_.entry(*target, &existing)) return errnoStatus(error);
    return errnoStatus(orErrno(::linkat(existing.parent.get(), existing.name.c_str(),
                                        link.parent.get(), link.name.c_str(), 0)));
}

SimAfcServer::Reply SimAfcServer::setModificationTime(SimAfcArguments& args) {
    auto time = args.number();
    auto path = args.text();
    SimConfinedFolder::Entry entry;
    if (!time || !path) return status(kInvalidArgument);
    if (int error = folder_.entry(*path, &entry)) return errnoStatus(error);
    timespec times[2];
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(*time / 1000000000u);
    times[1].tv_nsec = static_cast<long>(*time % 1000000000u);
    return errnoStatus(
        orErrno(::utimensat(entry.parent.get(), entry.name.c_str(), times, AT_SYMLINK_NOFOLLOW)));
}

SimAfcServer::Reply SimAfcServer::truncatePath(SimAfcArguments& args) {
    auto size = args.number();
    auto path = args.text();
    if (!size || !path || *size > INT64_MAX) return status(kInvalidArgument);
    SimFd fd(folder_.open(*path, O_WRONLY));
    if (!fd) return errnoStatus(fd.get());
    return errnoStatus(orErrno(::ftruncate(fd.get(), static_cast<off_t>(*size))));
}

SimAfcServer::Reply SimAfcServer::openFile(SimAfcArguments& args) {
    auto mode = args.number();
    auto path = args.text();
    if (!mode || !path) return status(kInvalidArgument);
    static constexpr int kFlags[] = {O_RDONLY,
                                     O_RDWR | O_CREAT,
                                     O_WRONLY | O_CREAT | O_TRUNC,
                                     O_RDWR | O_CREAT | O_TRUNC,
                                     O_WRONLY | O_APPEND | O_CREAT,
                                     O_RDWR | O_APPEND | O_CREAT};
    if (*mode < 1 || *mode > 6) return status(kInvalidArgument);
    SimFd fd(folder_.open(*path, kFlags[*mode - 1]));
    if (!fd) return errnoStatus(fd.get());
    struct stat info {};
    if (::fstat(fd.get(), &info) == 0 && S_ISDIR(info.st_mode)) return status(kObjectIsDirectory);
    const std::uint64_t handle = nextHandle_++;
    files_[handle] = std::move(fd);
    Reply reply;
    reply.operation = afc::kFileOpenResult;
    appendLittle64(reply.data, handle);
    return reply;
}

SimAfcServer::Reply SimAfcServer::fileCall(std::uint64_t operation, SimAfcArguments& args) {
    auto handle = args.number();
    if (!handle) return status(kInvalidArgument);
    auto found = files_.find(*handle);
    if (found == files_.end()) return status(kInvalidArgument);
    const int fd = found->second.get();
    switch (operation) {
        case afc::kFileRead: {
            auto length = args.number();
            if (!length) return status(kInvalidArgument);
            const std::uint64_t limit =
                hostility_ == SimAfcHostility::ShortReads ? kShortReadLength : kMaxReadLength;
            std::vector<std::uint8_t> bytes(std::min(*length, limit));
            if (hostility_ == SimAfcHostility::LiesAboutSizes) {
                std::fill(bytes.begin(), bytes.end(), std::uint8_t{'L'});
                return dataReply(std::move(bytes));
            }
            std::size_t done = 0;
            while (done < bytes.size()) {
                const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
                if (n < 0 && errno == EINTR) continue;
                if (n < 0) return errnoStatus(-errno);
                if (n == 0) break;
                done += static_cast<std::size_t>(n);
            }
            bytes.resize(done);
            return dataReply(std::move(bytes));
        }
        case afc::kFileWrite: {
            std::size_t length = 0;
            const std::uint8_t* bytes = args.rest(&length);
            const bool failing = hostility_ == SimAfcHostility::FailingWrites && length > 0;
            if (failing) length = (length + 1) / 2;
            while (length > 0) {
                const ssize_t n = ::write(fd, bytes, length);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) return errnoStatus(n < 0 ? -errno : -EIO);
                bytes += n;
                length -= static_cast<std::size_t>(n);
            }
            return status(failing ? kNoSpaceLeft : kSuccess);
        }
        case afc::kFileSeek: {
            auto whence = args.number();
            auto offset = args.number();
            if (!whence || !offset || *whence > SEEK_END) return status(kInvalidArgument);
            const off_t to = static_cast<off_t>(static_cast<std::int64_t>(*offset));
            return errnoStatus(::lseek(fd, to, static_cast<int>(*whence)) < 0 ? -errno : 0);
        }
        case afc::kFileTell: {
            const off_t position = ::lseek(fd, 0, SEEK_CUR);
            if (position < 0) return errnoStatus(-errno);
            Reply reply;
            reply.operation = afc::kFileTellResult;
            appendLittle64(reply.data, static_cast<std::uint64_t>(position));
            return reply;
        }
        case afc::kFileSetSize: {
            auto size = args.number();
            if (!size || *size > INT64_MAX) return status(kInvalidArgument);
            return errnoStatus(orErrno(::ftruncate(fd, static_cast<off_t>(*size))));
        }
        case afc::kFileLock: {
            // The protocol's lock operations are flock's, always without waiting.
            auto how = args.number();
            if (!how || (*how != (LOCK_SH | LOCK_NB) && *how != (LOCK_EX | LOCK_NB) &&
                         *how != (LOCK_UN | LOCK_NB))) {
                return status(kInvalidArgument);
            }
            return errnoStatus(orErrno(::flock(fd, static_cast<int>(*how))));
        }
        default:  // close
            files_.erase(found);
            return status(kSuccess);
    }
}

}  // namespace simdevice
