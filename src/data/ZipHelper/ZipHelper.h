#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "foundation/Value.h"

// gzip inflating over zlib.
class ZipHelper {
public:
    // The inflated first member of a gzip stream; nullopt on any failure (empty input,
    // no gzip wrapper, damaged or truncated data). Never a partial result.
    static std::optional<foundation::Data> ungzip(std::span<const std::uint8_t> data);
};
