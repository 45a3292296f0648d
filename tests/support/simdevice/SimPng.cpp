#include "simdevice/SimPng.h"

#include <zlib.h>

namespace simdevice {

namespace {

void appendChunk(foundation::Data& png, const char* type, const foundation::Data& body) {
    const auto length = static_cast<std::uint32_t>(body.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        png.push_back(static_cast<std::uint8_t>(length >> shift));
    const std::size_t start = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), body.begin(), body.end());
    const uLong crc = ::crc32(0, png.data() + start, static_cast<uInt>(png.size() - start));
    for (int shift = 24; shift >= 0; shift -= 8)
        png.push_back(static_cast<std::uint8_t>(crc >> shift));
}

void appendBigEndian(foundation::Data& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

}  // namespace

foundation::Data bandedPng(std::uint32_t width, std::uint32_t height,
                           const std::uint8_t colour[3]) {
    foundation::Data pixels;
    for (std::uint32_t y = 0; y < height; ++y) {
        pixels.push_back(0);  // no filter
        for (std::uint32_t x = 0; x < width; ++x) {
            const bool band = (x + y) / 10 == 5;
            for (int channel = 0; channel < 3; ++channel) {
                pixels.push_back(band ? 0xf0 : colour[channel]);
            }
        }
    }
    foundation::Data packed(::compressBound(static_cast<uLong>(pixels.size())));
    uLongf packedLength = packed.size();
    ::compress(packed.data(), &packedLength, pixels.data(), static_cast<uLong>(pixels.size()));
    packed.resize(packedLength);
    foundation::Data png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    foundation::Data header;
    appendBigEndian(header, width);
    appendBigEndian(header, height);
    header.insert(header.end(), {8, 2, 0, 0, 0});
    appendChunk(png, "IHDR", header);
    appendChunk(png, "IDAT", packed);
    appendChunk(png, "IEND", {});
    return png;
}

}  // namespace simdevice
