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

int fsyncRetrying(int fd) {
    int result;
    do {
        result = ::fsync(fd);
    } while (result != 0 && errno == EINTR);
    return result;
}

}  // namespace

bool writeFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes,
                         std::string* error) {
    if (path.empty() || path.back() == '/')
        return fail(error, "invalid file path \"" + path + "\"");

    std::size_t slash = path.rfind('/');
    std::string folder =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    // Hidden, so that folder listings do not show a half-written file.
    std::string temporary =
        (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + "." + name +
        ".XXXXXX";

    FileDescriptor file(mkostemp(temporary.data(), O_CLOEXEC));
    if (file.get() < 0) {
        int code = errno;
        return fail(error,
                    "could not create a temporary file in \"" + folder + "\": " + errnoText(code));
    }
    auto discard = [&](const std::string& what, int code) {
        ::unlink(temporary.c_str());
        return fail(error, what + " \"" + path + "\": " + errnoText(code));
    };

    struct stat existing {};
    if (::stat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
        if (::fchmod(file.get(), existing.st_mode & 07777) != 0) {
            return discard("could not set the permissions for", errno);
        }
    }

    int code = 0;
    if (!writeAll(file.get(), bytes, code)) return discard("could not write", code);
    if (fsyncRetrying(file.get()) != 0) return discard("could not flush", errno);
    if (file.close() != 0) return discard("could not close", errno);
    if (::rename(temporary.c_str(), path.c_str()) != 0) return discard("could not replace", errno);

    // Makes the rename itself durable. Some file systems cannot sync a folder (EINVAL).
    FileDescriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.get() < 0) {
        code = errno;
        return fail(error,
                    "replaced \"" + path + "\" but could not open its folder: " + errnoText(code));
    }
    if (fsyncRetrying(directory.get()) != 0 && errno != EINVAL) {
        code = errno;
        return fail(error,
                    "replaced \"" + path + "\" but could not flush its folder: " + errnoText(code));
    }
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
