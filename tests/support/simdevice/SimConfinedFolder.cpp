#include "simdevice/SimConfinedFolder.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

namespace simdevice {

SimFd::~SimFd() {
    if (fd_ >= 0) ::close(fd_);
}

SimFd& SimFd::operator=(SimFd&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

SimConfinedFolder::SimConfinedFolder(const std::string& root)
    : root_(::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)) {}

int SimConfinedFolder::open(const std::string& path, int flags, mode_t mode) const {
    if (!root_) return -EBADF;
    open_how how{};
    how.flags = static_cast<std::uint64_t>(flags | O_CLOEXEC);
    how.mode = (flags & O_CREAT) ? mode : 0;
    how.resolve = RESOLVE_IN_ROOT | RESOLVE_NO_MAGICLINKS;
    const std::string relative = path.empty() ? "." : path;
    for (;;) {
        long fd = ::syscall(SYS_openat2, root_.get(), relative.c_str(), &how, sizeof how);
        if (fd >= 0) return static_cast<int>(fd);
        if (errno != EINTR && errno != EAGAIN) return -errno;
    }
}

int SimConfinedFolder::entry(const std::string& path, Entry* out) const {
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    const auto slash = trimmed.rfind('/');
    std::string name = slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") return -EINVAL;
    const std::string parent = slash == std::string::npos ? "." : trimmed.substr(0, slash + 1);
    const int fd = open(parent, O_PATH | O_DIRECTORY);
    if (fd < 0) return fd;
    out->parent = SimFd(fd);
    out->name = std::move(name);
    return 0;
}

}  // namespace simdevice
