// The binary iPod database comes from a device: any bytes must give a result or nothing, and
// never a read outside the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include <sys/mman.h>
#include <unistd.h>

#include "media/iTunesDBReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    const auto contents = media::iTunesDBReader::read(bytes);
    // A file reads whole or says what is wrong with it, and never yields more records than
    // its bytes hold.
    if ((!contents.isDatabase && contents.error.empty()) || contents.tracks.size() > size / 212 ||
        contents.playlists.size() > size / 24) {
        std::abort();
    }
    media::iTunesDBReader::masterPlaylistName(bytes);
    // The same bytes as a live file on a volume, read piece by piece.
    const int fd = ::memfd_create("itunesdb", MFD_CLOEXEC);
    if (fd >= 0) {
        if (::write(fd, data, size) == static_cast<ssize_t>(size))
            media::iTunesDBReader::masterPlaylistNameOfFile("/proc/self/fd/" + std::to_string(fd));
        ::close(fd);
    }
    return 0;
}
