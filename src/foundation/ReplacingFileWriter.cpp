#include "foundation/ReplacingFileWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <vector>

#include "foundation/PathComponents.h"
#include "foundation/ProcessUmask.h"

namespace foundation {

namespace {

bool fail(std::string* error, const std::string& what, int code) {
    if (error) *error = what + ": " + std::error_code(code, std::system_category()).message();
    return false;
}


}  // namespace

ReplacingFileWriter::ReplacingFileWriter(std::string path, std::shared_ptr<PartialFiles> partials)
    : path_(std::move(path)),
      partials_(partials ? std::move(partials) : std::make_shared<PartialFiles>()) {}

ReplacingFileWriter::~ReplacingFileWriter() { discard(); }

bool ReplacingFileWriter::open(std::string* error) {
    discard();
    // A short name of its own beside the target, so that a target whose name is near the
    // longest a folder takes can still be written.
    std::string pattern = appendingPathComponent(deletingLastPathComponent(path_), ".partial-XXXXXX");
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = -1;
    int code = 0;
    const bool allowed = partials_->make([&]() -> std::string {
        fd = ::mkostemp(name.data(), O_CLOEXEC);
        code = errno;
        return fd < 0 ? std::string() : std::string(name.data());
    });
    if (!allowed) code = ECANCELED;
    if (fd < 0) return fail(error, "cannot create a file beside " + path_, code);
    struct stat existing {};
    const mode_t mode =
        ::stat(path_.c_str(), &existing) == 0 ? existing.st_mode & 07777 : modeForNewFile(0644);
    ::fchmod(fd, mode);
    fd_ = fd;
    temporary_.assign(name.data());
    return true;
}

bool ReplacingFileWriter::append(const std::uint8_t* bytes, std::size_t length,
                                 std::string* error) {
    if (fd_ < 0) return fail(error, "not open", EBADF);
    std::size_t done = 0;
    while (done < length) {
        const ssize_t written = ::write(fd_, bytes + done, length - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return fail(error, "cannot write " + temporary_, written < 0 ? errno : EIO);
        done += static_cast<std::size_t>(written);
    }
    return true;
}

bool ReplacingFileWriter::commit(std::string* error) {
    if (fd_ < 0) return fail(error, "not open", EBADF);
    const int closed = ::close(fd_);
    fd_ = -1;
    if (closed != 0) {
        const int code = errno;
        discard();
        return fail(error, "cannot write " + temporary_, code);
    }
    if (!partials_->putInPlace(temporary_, path_)) {
        const int code = errno;
        discard();
        return fail(error, "cannot replace " + path_, code);
    }
    temporary_.clear();
    return true;
}

void ReplacingFileWriter::discard() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!temporary_.empty()) partials_->discard(temporary_);
    temporary_.clear();
}

}  // namespace foundation
