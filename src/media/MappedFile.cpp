#include "media/MappedFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace media {

MappedFile::MappedFile(const std::string& path) {
    // Without waiting for a writer, should the path be a named pipe.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        size_ = static_cast<std::size_t>(info.st_size);
        if (size_ == 0) {
            open_ = true;
        } else {
            void* mapped = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
            if (mapped != MAP_FAILED) {
                // The readers walk the file front to back. The advice values are not bits
                // to combine: each is given by itself.
                ::madvise(mapped, size_, MADV_SEQUENTIAL);
                ::madvise(mapped, size_, MADV_WILLNEED);
                data_ = static_cast<const std::uint8_t*>(mapped);
                open_ = true;
            } else {
                size_ = 0;
            }
        }
    }
    ::close(fd);
}

MappedFile::~MappedFile() {
    if (data_) ::munmap(const_cast<std::uint8_t*>(data_), size_);
}

}  // namespace media
