#pragma once

#include <zlib.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "foundation/Value.h"

namespace datatest {

inline foundation::Data bytes(std::string_view text) {
    return foundation::Data(text.begin(), text.end());
}

inline std::string hex(const foundation::Data& data) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (auto b : data) {
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
    }
    return out;
}

// Bytes that compress somewhat but not trivially: a repeating text with a counter mixed in.
inline foundation::Data sampleText(std::size_t size) {
    foundation::Data out;
    out.reserve(size);
    for (std::uint32_t i = 0; out.size() < size; ++i) {
        const std::string line = "line " + std::to_string(i * 2654435761u % 100000) + " of text\n";
        for (char c : line) {
            if (out.size() == size) break;
            out.push_back(static_cast<std::uint8_t>(c));
        }
    }
    return out;
}

// Compresses with zlib: windowBits 31 gives a gzip member, 15 a zlib stream, -15 raw deflate.
inline foundation::Data deflateWith(const foundation::Data& plain, int windowBits) {
    z_stream stream{};
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, windowBits, 8,
                     Z_DEFAULT_STRATEGY) != Z_OK) {
        throw std::runtime_error("deflateInit2");
    }
    foundation::Data out(deflateBound(&stream, plain.size()) + 32);
    stream.next_in = const_cast<Bytef*>(plain.data());
    stream.avail_in = static_cast<uInt>(plain.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    const int status = deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    if (status != Z_STREAM_END) throw std::runtime_error("deflate");
    return out;
}

inline foundation::Data gzip(const foundation::Data& plain) {
    return deflateWith(plain, 31);
}

}  // namespace datatest
