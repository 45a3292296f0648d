// gzip data arrives in the resource pack: any bytes must inflate or fail cleanly, and the
// answer must not depend on how the input is handed to zlib.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "data/ZipHelper/GzipInflate.h"
#include "data/ZipHelper/ZipHelper.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    const auto whole = ZipHelper::ungzip(input);
    const auto pieces = ziphelper::inflateGzipMember(input, 3);
    if (whole != pieces) std::abort();
    return 0;
}
