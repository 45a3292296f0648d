#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "foundation/Value.h"

namespace ziphelper {

// The inflated bytes of the first member of a gzip stream (RFC 1952), in one pass over the
// input; bytes behind that member are ignored. nullopt for empty input, a zlib or raw
// deflate stream, damaged data, a wrong CRC or length in the trailer, and a stream cut
// short anywhere, its trailer included: never a partial result.
// zlib counts in 32 bits, so input and output are handed over in pieces of at most
// `pieceLimit` bytes; any total size works.
std::optional<foundation::Data> inflateGzipMember(std::span<const std::uint8_t> input,
                                                  std::size_t pieceLimit = UINT_MAX);

}  // namespace ziphelper
