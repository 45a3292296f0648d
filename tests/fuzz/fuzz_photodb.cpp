// Artwork and photo databases come from a device: any bytes must give a result, and never a
// read outside the input.
#include <cstddef>
#include <cstdint>
#include <span>

#include "media/PhotoDBReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    media::PhotoDBReader reader("");
    reader.loadBytes(bytes);
    // The same bytes as a run of string records, and as a run of "mhaf" headers.
    media::ByteCursor strings(bytes);
    while (!strings.atEnd()) {
        const std::size_t at = strings.position();
        media::PhotoDBReader::readMHODString(strings);
        if (strings.position() == at) break;
    }
    media::ByteCursor headers(bytes);
    while (media::PhotoDBReader::readMHAF(headers)) {
    }
    return 0;
}
