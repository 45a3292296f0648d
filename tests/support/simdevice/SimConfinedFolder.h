#pragma once

#include <sys/types.h>

#include <string>
#include <utility>

namespace simdevice {

// An owned file descriptor, closed when it goes.
class SimFd {
public:
    SimFd() = default;
    explicit SimFd(int fd) : fd_(fd) {}
    ~SimFd();
    SimFd(SimFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    SimFd& operator=(SimFd&& other) noexcept;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }
    explicit operator bool() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// A folder that stands for a device's file system. Every path is taken inside it, and the
// kernel resolves "..", absolute paths and symbolic links as if the folder were the root,
// so nothing a client names leads outside.
class SimConfinedFolder {
public:
    explicit SimConfinedFolder(const std::string& root);
    bool isOpen() const { return static_cast<bool>(root_); }

    // The path opened with open(2) flags, or -errno.
    int open(const std::string& path, int flags, mode_t mode = 0644) const;

    // The folder holding the path's last component and that component, for calls that
    // must not follow a final link (stat, unlink, rename, link). -errno when the parent
    // cannot be opened, EINVAL when the path names the root, ".", or "..".
    struct Entry {
        SimFd parent;
        std::string name;
    };
    int entry(const std::string& path, Entry* out) const;

private:
    SimFd root_;
};

}  // namespace simdevice
