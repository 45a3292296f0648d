#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include <zlib.h>

#include "foundation/Value.h"

namespace ziphelper {

// The inflated bytes of the first member of a gzip stream (RFC 1952), in one pass over the
// input; bytes behind that member are ignored. nullopt for empty input, a zlib or raw
// deflate stream, damaged data, a wrong CRC or length in the trailer, and a stream cut
// short anywhere, its trailer included: never a partial result.
// zlib counts in 32 bits, so input and output are handed over in pieces of at most
// `pieceLimit` bytes; any total size works.
// A zlib inflate stream that requires the gzip wrapper, ended with its owner.
class GzipInflateStream {
public:
    // 15 window bits plus 16: the gzip wrapper is required.
    GzipInflateStream() { ready_ = inflateInit2(&stream_, 15 + 16) == Z_OK; }
    ~GzipInflateStream() {
        if (ready_) inflateEnd(&stream_);
    }
    GzipInflateStream(const GzipInflateStream&) = delete;
    GzipInflateStream& operator=(const GzipInflateStream&) = delete;

    bool ready() const { return ready_; }
    z_stream& get() { return stream_; }

private:
    z_stream stream_{};
    bool ready_ = false;
};

std::optional<foundation::Data> inflateGzipMember(std::span<const std::uint8_t> input,
                                                  std::size_t pieceLimit = UINT_MAX);

}  // namespace ziphelper
