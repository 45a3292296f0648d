// PNG data comes from devices: any bytes must give standard PNG or nothing. What comes out
// of a conversion must be PNG that is not device-style, with every chunk inside the data.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "content/PNGNormalizer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const foundation::Data input(data, data + size);
    const bool deviceStyle = size >= 20 && !PNGNormalizer::isGoodPNGData(input);
    auto output = PNGNormalizer::dataFromPNGData(input);
    if (!output) return 0;
    if (!deviceStyle) {
        if (*output != input) std::abort();
        return 0;
    }
    if (!PNGNormalizer::isGoodPNGData(*output)) std::abort();
    for (std::size_t at = 8; at < output->size();) {
        if (output->size() - at < 12) std::abort();
        const std::uint32_t length = PNGNormalizer::peekUint32(output->data() + at);
        if (length > output->size() - at - 12) std::abort();
        at += 12 + length;
    }
    return 0;
}
