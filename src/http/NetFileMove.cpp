#include "http/NetFileMove.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "foundation/PathComponents.h"
#include "foundation/ProcessUmask.h"

namespace {

constexpr std::size_t CopyPieceSize = 262144;

// Copies the open file `in` into `out` to its end; 0 or the errno.
int copyAll(int in, int out) {
    std::vector<char> piece(CopyPieceSize);
    for (;;) {
        ssize_t n = ::read(in, piece.data(), piece.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return 0;
        for (ssize_t done = 0; done < n;) {
            ssize_t written = ::write(out, piece.data() + done, static_cast<std::size_t>(n - done));
            if (written < 0 && errno == EINTR) continue;
            if (written <= 0) return written < 0 ? errno : EIO;
            done += written;
        }
    }
}

// The copy across file systems: into a temporary beside `to`, on disk before it takes the
// place of what was there.
int copyIntoPlace(const std::string& from, const std::string& to, mode_t mode) {
    int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return errno;
    std::string temporary = foundation::appendingPathComponent(
        foundation::deletingLastPathComponent(to), ".partial-XXXXXX");
    int out = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (out < 0) {
        int code = errno;
        ::close(in);
        return code;
    }
    int code = copyAll(in, out);
    ::close(in);
    if (code == 0 && ::fchmod(out, mode) != 0) code = errno;
    if (code == 0 && ::fsync(out) != 0) code = errno;
    if (::close(out) != 0 && code == 0) code = errno;
    if (code == 0 && ::rename(temporary.c_str(), to.c_str()) != 0) code = errno;
    if (code != 0) {
        ::unlink(temporary.c_str());
        return code;
    }
    ::unlink(from.c_str());
    return 0;
}

}  // namespace

int netMoveFileIntoPlace(const std::string& from, const std::string& to) {
    // The temporary was private while it filled; the delivered file is an ordinary one.
    const mode_t mode = foundation::modeForNewFile(0666);
    if (::rename(from.c_str(), to.c_str()) == 0) {
        ::chmod(to.c_str(), mode);
        return 0;
    }
    if (errno != EXDEV) return errno;
    return copyIntoPlace(from, to, mode);
}
