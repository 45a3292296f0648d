#include "foundation/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <system_error>

namespace foundation {

namespace {

std::string errnoText(int code) {
    return std::error_code(code, std::system_category()).message();
}

bool fail(std::string* error, std::string message) {
    if (error) *error = std::move(message);
    return false;
}

// Closes the descriptor on every path out.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }
    // Closes now, so that a failing close (a late write error) can be reported.
    int close() {
        int result = ::close(fd_);
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

bool writeAll(int fd, std::span<const std::uint8_t> bytes, int& code) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0) {
            if (errno == EINTR) continue;
            code = errno;
            return false;
        }
        if (written == 0) {
            code = EIO;
            return false;
        }
        done += static_cast<std::size_t>(written);
    }
    return true;
}

// What fsync() answers where the file system has nothing to flush to (some FUSE and
// network file systems): the bytes are written all the same.
bool cannotFlush(int code) {
    return code == EINVAL || code == ENOSYS || code == EOPNOTSUPP;
}

int fsyncRetrying(int fd) {
    int result;
    do {
        result = ::fsync(fd);
    } while (result != 0 && errno == EINTR);
    return result;
}

// Where a write to `path` lands: through symbolic links (also dangling ones) to the file
// they name, so that replacing it keeps the link. nullopt with the reason in `code`.
std::optional<std::string> resolveLinks(const std::string& path, int& code) {
    constexpr int kMaxLinks = 40;  // as the kernel allows
    std::string current = path;
    for (int followed = 0;; ++followed) {
        struct stat info {};
        if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return current;
        if (followed == kMaxLinks) {
            code = ELOOP;
            return std::nullopt;
        }
        std::string link(static_cast<std::size_t>(std::max<off_t>(info.st_size, 0)) + 256, '\0');
        const ssize_t length = ::readlink(current.c_str(), link.data(), link.size());
        if (length < 0) {
            code = errno;
            return std::nullopt;
        }
        link.resize(static_cast<std::size_t>(length));
        if (link.empty()) {
            code = ENOENT;
            return std::nullopt;
        }
        if (link.front() == '/') {
            current = link;
        } else {
            const std::size_t slash = current.rfind('/');
            current =
                (slash == std::string::npos ? std::string() : current.substr(0, slash + 1)) + link;
        }
    }
}

// The temporary's name is ".<name>.XXXXXX": the name is cut so that the whole stays within
// the file-name limit, on a character boundary.
std::string temporaryStem(const std::string& name) {
    constexpr std::size_t kNameMax = 255;
    constexpr std::size_t kAdded = 8;  // "." and ".XXXXXX"
    if (name.size() + kAdded <= kNameMax) return name;
    std::size_t end = kNameMax - kAdded;
    while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) --end;
    return name.substr(0, end);
}

}  // namespace

std::optional<std::string> writeTemporaryBeside(const std::string& path,
                                                std::span<const std::uint8_t> bytes,
                                                std::string* error) {
    const std::size_t slash = path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    // Hidden, so that folder listings do not show a half-written file.
    std::string temporary = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) +
                            "." + temporaryStem(name) + ".XXXXXX";
    FileDescriptor file(mkostemp(temporary.data(), O_CLOEXEC));
    if (file.get() < 0) {
        const int code = errno;
        fail(error, "could not create a temporary file in \"" + folder + "\": " + errnoText(code));
        return std::nullopt;
    }
    auto discard = [&](const std::string& what, int code) -> std::optional<std::string> {
        ::unlink(temporary.c_str());
        fail(error, what + " \"" + path + "\": " + errnoText(code));
        return std::nullopt;
    };
    int code = 0;
    if (!writeAll(file.get(), bytes, code)) return discard("could not write", code);
    if (fsyncRetrying(file.get()) != 0 && !cannotFlush(errno))
        return discard("could not flush", errno);
    if (file.close() != 0) return discard("could not close", errno);
    return temporary;
}

void syncFolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    // Some file systems cannot (EINVAL), and a folder we may write but not read cannot be
    // opened for it.
    FileDescriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.get() >= 0) fsyncRetrying(directory.get());
}

bool writeFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes,
                         std::string* error) {
    if (path.empty() || path.back() == '/')
        return fail(error, "invalid file path \"" + path + "\"");

    int code = 0;
    std::optional<std::string> target = resolveLinks(path, code);
    if (!target) return fail(error, "could not follow \"" + path + "\": " + errnoText(code));

    const std::optional<std::string> temporary = writeTemporaryBeside(*target, bytes, error);
    if (!temporary) return false;
    auto discard = [&](const std::string& what, int code) {
        ::unlink(temporary->c_str());
        return fail(error, what + " \"" + path + "\": " + errnoText(code));
    };
    struct stat existing {};
    if (::stat(target->c_str(), &existing) == 0 && S_ISREG(existing.st_mode) &&
        ::chmod(temporary->c_str(), existing.st_mode & 07777) != 0) {
        return discard("could not set the permissions for", errno);
    }
    if (::rename(temporary->c_str(), target->c_str()) != 0) return discard("could not replace", errno);
    // The new contents are in place: from here on nothing can fail the write.
    syncFolderOf(*target);
    return true;
}

std::optional<Data> readFile(const std::string& path, std::string* error) {
    auto failure = [&](const std::string& what, int code) -> std::optional<Data> {
        fail(error, what + " \"" + path + "\": " + errnoText(code));
        return std::nullopt;
    };
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return failure("could not open", errno);
    FileDescriptor file(fd);

    struct stat info {};
    if (::fstat(file.get(), &info) != 0) return failure("could not inspect", errno);
    if (!S_ISREG(info.st_mode)) {
        fail(error, "\"" + path + "\" is not a regular file");
        return std::nullopt;
    }

    // The size is only a hint: the file may change while it is read.
    Data contents;
    contents.reserve(static_cast<std::size_t>(std::min<off_t>(info.st_size, off_t{1} << 26)));
    std::uint8_t chunk[65536];
    while (true) {
        ssize_t count = ::read(file.get(), chunk, sizeof chunk);
        if (count < 0) {
            if (errno == EINTR) continue;
            return failure("could not read", errno);
        }
        if (count == 0) break;
        contents.insert(contents.end(), chunk, chunk + count);
    }
    return contents;
}

}  // namespace foundation
