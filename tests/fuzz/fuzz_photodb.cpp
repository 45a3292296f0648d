// Artwork and photo databases come from a device: any bytes must give a result, and never a
// read outside the input.
#include <cstddef>
#include <cstdint>
#include <span>

#include "media/PhotoDBReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    media::PhotoDBReader reader("");
    reader.loadBytes(std::span<const std::uint8_t>(data, size));
    return 0;
}
