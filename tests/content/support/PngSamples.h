#pragma once

// Builds PNG files for tests, standard and device-style, with zlib's own CRC and deflate so
// that nothing here shares code with what is tested.

#include <zlib.h>

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "foundation/Value.h"

namespace pngtest {

using foundation::Data;

struct Chunk {
    std::string type;
    Data body;
};

struct Rgba {
    std::uint8_t r, g, b, a;
    bool operator==(const Rgba&) const = default;
};

inline void putUint32(Data& out, std::uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<std::uint8_t>(v >> s));
}

inline std::uint32_t getUint32(const Data& d, std::size_t at) {
    return std::uint32_t{d[at]} << 24 | std::uint32_t{d[at + 1]} << 16 |
           std::uint32_t{d[at + 2]} << 8 | d[at + 3];
}

inline Data file(const std::vector<Chunk>& chunks) {
    Data out = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    for (const auto& c : chunks) {
        putUint32(out, static_cast<std::uint32_t>(c.body.size()));
        Data typeAndBody(c.type.begin(), c.type.end());
        typeAndBody.insert(typeAndBody.end(), c.body.begin(), c.body.end());
        out.insert(out.end(), typeAndBody.begin(), typeAndBody.end());
        putUint32(out, static_cast<std::uint32_t>(
                           crc32(0, typeAndBody.data(), static_cast<uInt>(typeAndBody.size()))));
    }
    return out;
}

inline Data header(std::uint32_t width, std::uint32_t height, std::uint8_t depth = 8,
                   std::uint8_t colour = 6, std::uint8_t interlace = 0) {
    Data body;
    putUint32(body, width);
    putUint32(body, height);
    body.insert(body.end(), {depth, colour, 0, 0, interlace});
    return body;
}

inline Rgba samplePixel(std::uint32_t x, std::uint32_t y) {
    return {static_cast<std::uint8_t>(x * 40 + 3), static_cast<std::uint8_t>(y * 30 + 5),
            static_cast<std::uint8_t>(200 - x * 10), static_cast<std::uint8_t>(255 - y)};
}

// Rows of filter byte plus pixels; blue-green-red-alpha when `deviceOrder`. Filter 1 (Sub)
// stores each byte as the difference to the same channel of the pixel on its left.
inline Data rows(std::uint32_t width, std::uint32_t height, bool deviceOrder, std::uint8_t filter) {
    Data out;
    for (std::uint32_t y = 0; y < height; ++y) {
        Data raw;
        for (std::uint32_t x = 0; x < width; ++x) {
            const Rgba p = samplePixel(x, y);
            if (deviceOrder) {
                raw.insert(raw.end(), {p.b, p.g, p.r, p.a});
            } else {
                raw.insert(raw.end(), {p.r, p.g, p.b, p.a});
            }
        }
        out.push_back(filter);
        for (std::size_t i = 0; i < raw.size(); ++i) {
            const std::uint8_t left = filter == 1 && i >= 4 ? raw[i - 4] : 0;
            out.push_back(static_cast<std::uint8_t>(raw[i] - left));
        }
    }
    return out;
}

// windowBits -15 gives raw deflate (device style), 15 a zlib stream (standard).
inline Data compress(const Data& plain, int windowBits) {
    z_stream s{};
    if (deflateInit2(&s, 9, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        throw std::runtime_error("deflateInit2");
    }
    Data out(deflateBound(&s, plain.size()) + 16);
    s.next_in = const_cast<Bytef*>(plain.data());
    s.avail_in = static_cast<uInt>(plain.size());
    s.next_out = out.data();
    s.avail_out = static_cast<uInt>(out.size());
    deflate(&s, Z_FINISH);
    out.resize(s.total_out);
    deflateEnd(&s);
    return out;
}

// `pieces` IDAT chunks of nearly equal size.
inline std::vector<Chunk> imageDataChunks(const Data& compressed, std::size_t pieces) {
    std::vector<Chunk> out;
    const std::size_t step = (compressed.size() + pieces - 1) / pieces;
    for (std::size_t at = 0; at < compressed.size(); at += step) {
        const std::size_t end = std::min(compressed.size(), at + step);
        out.push_back({"IDAT", Data(compressed.begin() + at, compressed.begin() + end)});
    }
    return out;
}

struct DeviceOptions {
    std::uint32_t width = 5;
    std::uint32_t height = 4;
    std::size_t idatPieces = 1;
    std::uint8_t filter = 0;
    bool withText = true;
    Data trailer;  // bytes after IEND
};

inline Data devicePng(const DeviceOptions& o = {}) {
    std::vector<Chunk> chunks = {{"CgBI", {0x50, 0x00, 0x20, 0x02}},
                                 {"IHDR", header(o.width, o.height)}};
    if (o.withText) chunks.push_back({"tEXt", {'k', 0, 'v'}});
    const auto data =
        imageDataChunks(compress(rows(o.width, o.height, true, o.filter), -15), o.idatPieces);
    chunks.insert(chunks.end(), data.begin(), data.end());
    chunks.push_back({"IEND", {}});
    Data out = file(chunks);
    out.insert(out.end(), o.trailer.begin(), o.trailer.end());
    return out;
}

inline Data standardPng(std::uint32_t width, std::uint32_t height) {
    return file({{"IHDR", header(width, height)},
                 {"IDAT", compress(rows(width, height, false, 0), 15)},
                 {"IEND", {}}});
}

// A black one-bit grey picture of any size: 30000 x 30000 is about 110 KB of file, and
// decoded as RGB 2.7 GB.
inline Data bilevelPng(std::uint32_t width, std::uint32_t height) {
    z_stream s{};
    if (deflateInit(&s, 9) != Z_OK) throw std::runtime_error("deflateInit");
    const Data row(1 + (width + 7) / 8, 0);
    Data out(1 << 16);
    Data compressed;
    for (std::uint32_t y = 0; y <= height; ++y) {
        s.next_in = const_cast<Bytef*>(row.data());
        s.avail_in = y < height ? static_cast<uInt>(row.size()) : 0;
        const int flush = y < height ? Z_NO_FLUSH : Z_FINISH;
        do {
            s.next_out = out.data();
            s.avail_out = static_cast<uInt>(out.size());
            deflate(&s, flush);
            compressed.insert(compressed.end(), out.data(), s.next_out);
        } while (s.avail_out == 0);
    }
    deflateEnd(&s);
    return file({{"IHDR", header(width, height, 1, 0)}, {"IDAT", compressed}, {"IEND", {}}});
}

// The chunks of a PNG file in order; throws when a length runs past the end.
inline std::vector<Chunk> chunksOf(const Data& png, std::vector<bool>* crcValid = nullptr) {
    std::vector<Chunk> out;
    for (std::size_t at = 8; at < png.size();) {
        if (png.size() - at < 12) throw std::runtime_error("short chunk");
        const std::uint32_t length = getUint32(png, at);
        if (length > png.size() - at - 12) throw std::runtime_error("chunk past the end");
        Chunk c{std::string(png.begin() + at + 4, png.begin() + at + 8),
                Data(png.begin() + at + 8, png.begin() + at + 8 + length)};
        if (crcValid) {
            const auto crc = crc32(0, png.data() + at + 4, static_cast<uInt>(4 + length));
            crcValid->push_back(crc == getUint32(png, at + 8 + length));
        }
        out.push_back(std::move(c));
        at += 12 + length;
    }
    return out;
}

}  // namespace pngtest
