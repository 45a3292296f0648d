// The binary iPod database comes from a device: any bytes must give a result or nothing, and
// never a read outside the input.
#include <cstddef>
#include <cstdint>
#include <span>

#include "media/iTunesDBReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    media::iTunesDBReader::read(bytes);
    media::iTunesDBReader::masterPlaylistName(bytes);
    return 0;
}
