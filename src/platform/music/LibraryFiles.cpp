#include "platform/music/LibraryFiles.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

#include "data/helpers/NSDataHashing.h"
#include "data/helpers/NSStringHelpers.h"
#include "foundation/AtomicFile.h"
#include "foundation/Paths.h"

namespace music::LibraryFiles {

namespace {

constexpr int kMaxNameTries = 1000;

std::string errnoText(int code) {
    return std::error_code(code, std::system_category()).message();
}

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// "Title.m4a" as "Title" and ".m4a".
std::pair<std::string, std::string> stemAndExtension(const std::string& path) {
    const auto slash = path.rfind('/');
    const auto dot = path.rfind('.');
    const bool hasExtension =
        dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
    if (!hasExtension) return {path, std::string()};
    return {path.substr(0, dot), path.substr(dot)};
}

int callLink(const LinkCall& link, const std::string& from, const std::string& to) {
    return link ? link(from.c_str(), to.c_str()) : ::link(from.c_str(), to.c_str());
}

// What link() answers where the file system has no hard links: FAT and exFAT refuse them,
// FUSE and some network file systems have no such call.
bool noHardLinks(int code) {
    return code == EPERM || code == EOPNOTSUPP || code == ENOSYS;
}

// What fsync() answers where the file system has nothing to flush to (some FUSE and
// network file systems): the bytes are written all the same.
bool cannotFlush(int code) {
    return code == EINVAL || code == ENOSYS || code == EOPNOTSUPP;
}

// What renameat2() answers where the file system takes no flags.
bool noRenameFlags(int code) {
    return code == EINVAL || code == EOPNOTSUPP || code == ENOSYS;
}

// Places `from` at the first free candidate, never replacing a file.
std::optional<std::string> placeFree(const std::string& from, const std::string& wanted,
                                     std::string* error, int lastNumber, bool keepSource,
                                     const LinkCall& link) {
    for (int attempt = 1; attempt <= std::min(lastNumber, kMaxNameTries); ++attempt) {
        const std::string target = numberedName(wanted, attempt);
        const int code = placeWithoutReplacing(from, target, keepSource, link);
        if (code == 0) return target;
        if (code != EEXIST) {
            if (error) *error = "cannot place " + target + ": " + errnoText(code);
            return std::nullopt;
        }
    }
    if (error) *error = "no free file name for " + wanted;
    return std::nullopt;
}

bool copyBytes(int in, int out, std::string* error) {
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            if (error) *error = "cannot read the track file: " + errnoText(errno);
            return false;
        }
        if (got == 0) return true;
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::write(out, buffer.data() + done, std::size_t(got - done));
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) {
                if (error) *error = "cannot write the library copy: " + errnoText(errno);
                return false;
            }
            done += put;
        }
    }
}

// Copies `from` to `to`, a name created for the copy alone (O_EXCL), flushed; a copy that
// fails is removed. 0 or the errno.
int copyToNewName(const std::string& from, const std::string& to) {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return errno;
    struct stat info {};
    const mode_t mode = ::fstat(in, &info) == 0 ? (info.st_mode & 0777) : 0600;
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (out < 0) {
        const int code = errno;
        ::close(in);
        return code;
    }
    int code = 0;
    std::string ignored;
    if (!copyBytes(in, out, &ignored)) code = errno != 0 ? errno : EIO;
    if (code == 0 && ::fsync(out) != 0 && !cannotFlush(errno)) code = errno;
    ::close(in);
    if (::close(out) != 0 && code == 0) code = errno;
    if (code != 0) ::unlink(to.c_str());  // created above, so ours
    return code;
}

std::string hexText(const std::uint8_t* bytes, std::size_t length) {
    return NSString::hexString({reinterpret_cast<const char*>(bytes), length});
}

}  // namespace

int placeWithoutReplacing(const std::string& from, const std::string& to, bool keepSource,
                          const LinkCall& link) {
    if (callLink(link, from, to) == 0) {
        if (!keepSource) ::unlink(from.c_str());
        return 0;
    }
    int code = errno;
    if (!noHardLinks(code)) return code;
    if (!keepSource) {
        if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
            return 0;
        code = errno;
        if (!noRenameFlags(code)) return code;
    }
    code = copyToNewName(from, to);
    if (code == 0 && !keepSource) ::unlink(from.c_str());
    return code;
}

std::string digestOf(std::span<const std::uint8_t> bytes) {
    const foundation::Data digest = NSData::SHA256Hash(bytes);
    return hexText(digest.data(), digest.size());
}

std::optional<std::string> digestOfFile(const std::string& path) {
    // Not blocking: a named pipe at the name would never answer the open. Hashed piece by
    // piece, so that a large file of another program's costs no memory.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    struct stat info {};
    std::optional<std::string> digest;
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> hash(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (hash && ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
        EVP_DigestInit_ex(hash.get(), EVP_sha256(), nullptr) == 1) {
        std::uint8_t chunk[65536];
        bool whole = true;
        for (;;) {
            const ssize_t got = ::read(fd, chunk, sizeof chunk);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) whole = false;
            if (got <= 0) break;
            whole = EVP_DigestUpdate(hash.get(), chunk, static_cast<std::size_t>(got)) == 1;
            if (!whole) break;
        }
        std::uint8_t value[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        if (whole && EVP_DigestFinal_ex(hash.get(), value, &length) == 1)
            digest = hexText(value, length);
    }
    ::close(fd);
    return digest;
}

Written writeOwnFile(const std::string& path, std::span<const std::uint8_t> bytes,
                     const std::optional<std::string>& lastWritten, std::string* error,
                     const LinkCall& link) {
    const auto temporary = foundation::writeTemporaryBeside(path, bytes, error);
    if (!temporary) return Written::Failed;
    const auto leave = [&](Written outcome) {
        ::unlink(temporary->c_str());
        return outcome;
    };
    // The file is in place: the rename itself is made durable too.
    const auto placed = [&] {
        foundation::syncFolderOf(path);
        return Written::Yes;
    };
    struct stat existing {};
    if (::lstat(path.c_str(), &existing) == 0 || errno != ENOENT) {
        // Something has the name: replaced only while it is what the library wrote there.
        if (!lastWritten || digestOfFile(path) != lastWritten) return leave(Written::NameTaken);
        ::chmod(temporary->c_str(), existing.st_mode & 07777);
        // Swapped rather than renamed over, so that what was replaced can be checked: another
        // program may have saved its own file there since the check.
        if (::renameat2(AT_FDCWD, temporary->c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE) ==
            0) {
            if (digestOfFile(*temporary) == lastWritten) {
                ::unlink(temporary->c_str());
                return placed();
            }
            // Not ours after all: it goes back, and our bytes go elsewhere.
            if (::renameat2(AT_FDCWD, temporary->c_str(), AT_FDCWD, path.c_str(),
                            RENAME_EXCHANGE) == 0 &&
                digestOfFile(*temporary) == digestOf(bytes)) {
                ::unlink(temporary->c_str());
            }
            return Written::NameTaken;
        }
        if (!noRenameFlags(errno)) {
            if (error) *error = "cannot replace " + path + ": " + errnoText(errno);
            return leave(Written::Failed);
        }
        // The file system cannot swap: the check just made is as close as it allows.
        if (::rename(temporary->c_str(), path.c_str()) == 0) return placed();
        if (error) *error = "cannot replace " + path + ": " + errnoText(errno);
        return leave(Written::Failed);
    }
    const int code = placeWithoutReplacing(*temporary, path, false, link);
    if (code == 0) return placed();
    if (code == EEXIST) return leave(Written::NameTaken);
    if (error) *error = "cannot write " + path + ": " + errnoText(code);
    return leave(Written::Failed);
}

std::string numberedName(const std::string& wanted, int number) {
    if (number <= 1) return wanted;
    const auto [stem, extension] = stemAndExtension(wanted);
    return stem + " " + std::to_string(number) + extension;
}

std::optional<int> freeNameNumber(const std::string& path, const std::string& wanted) {
    if (path == wanted) return 1;
    const auto [stem, extension] = stemAndExtension(wanted);
    const std::string prefix = stem + " ";
    if (path.size() <= prefix.size() + extension.size() || !path.starts_with(prefix) ||
        !path.ends_with(extension)) {
        return std::nullopt;
    }
    const std::string digits =
        path.substr(prefix.size(), path.size() - prefix.size() - extension.size());
    if (digits.size() > 4 || digits.front() == '0' ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const int number = std::stoi(digits);
    if (number < 2 || number > kMaxNameTries) return std::nullopt;
    return number;
}

std::optional<std::string> copyToFreeName(const std::string& source, const std::string& wantedPath,
                                          const std::string& stagingFolder, std::string* error,
                                          const LinkCall& link) {
    if (!foundation::Paths::ensureDirectory(folderOf(wantedPath), error) ||
        !foundation::Paths::ensureDirectory(stagingFolder, error)) {
        return std::nullopt;
    }
    const std::string& folder = stagingFolder;
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        if (error) *error = "cannot open " + source + ": " + errnoText(errno);
        return std::nullopt;
    }
    std::string temporary = folder + "/import-XXXXXX";
    int out = ::mkostemp(temporary.data(), O_CLOEXEC);
    // Another library on the folder may have just removed the emptied staging folder.
    if (out < 0 && errno == ENOENT && foundation::Paths::ensureDirectory(folder)) {
        temporary = folder + "/import-XXXXXX";
        out = ::mkostemp(temporary.data(), O_CLOEXEC);
    }
    if (out < 0) {
        if (error) *error = "cannot create a file in " + folder + ": " + errnoText(errno);
        ::close(in);
        return std::nullopt;
    }
    bool copied = copyBytes(in, out, error);
    if (copied && ::fsync(out) != 0) {
        if (error) *error = "cannot flush the library copy: " + errnoText(errno);
        copied = false;
    }
    ::fchmod(out, 0644);
    ::close(in);
    if (::close(out) != 0 && copied) {
        if (error) *error = "cannot write the library copy: " + errnoText(errno);
        copied = false;
    }
    std::optional<std::string> placed;
    if (copied) placed = placeFree(temporary, wantedPath, error, kMaxNameTries, false, link);
    if (!placed) ::unlink(temporary.c_str());
    return placed;
}

std::optional<std::string> linkToFreeName(const std::string& existing,
                                          const std::string& wantedPath, std::string* error,
                                          int lastNumber, const LinkCall& link) {
    if (!foundation::Paths::ensureDirectory(folderOf(wantedPath), error)) return std::nullopt;
    return placeFree(existing, wantedPath, error, lastNumber, true, link);
}

std::optional<std::string> canonicalPath(const std::string& path) {
    char resolved[PATH_MAX];
    if (!::realpath(path.c_str(), resolved)) return std::nullopt;
    return std::string(resolved);
}

void emptyFolder(const std::string& folder) {
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ignored)) {
        std::filesystem::remove_all(entry.path(), ignored);
    }
}

void removeEmptyFolders(const std::string& folder, const std::string& root) {
    std::string current = folder;
    // rmdir() removes only an empty folder, so nothing of anyone's can go.
    while (isInside(current, root) && ::rmdir(current.c_str()) == 0) current = folderOf(current);
}

bool isRegularFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool isInside(const std::string& path, const std::string& folder) {
    return path.size() > folder.size() + 1 && path.compare(0, folder.size(), folder) == 0 &&
           path[folder.size()] == '/';
}

}  // namespace music::LibraryFiles
