#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "foundation/Value.h"

// Raw-inflates image data that arrives in pieces (one per "IDAT" chunk) as one stream, into
// a buffer of a known final size. The buffer grows with the data actually inflated, so a
// header that claims a huge image costs nothing until the data is there.
class PngImageDataInflater {
public:
    explicit PngImageDataInflater(std::size_t expectedSize);
    ~PngImageDataInflater();
    PngImageDataInflater(const PngImageDataInflater&) = delete;
    PngImageDataInflater& operator=(const PngImageDataInflater&) = delete;

    // False when the data is damaged. Input beyond the expected size is ignored.
    bool feed(std::span<const std::uint8_t> compressed);

    // The inflated bytes when exactly the expected size was produced; nullopt otherwise.
    std::optional<foundation::Data> finish();

private:
    z_stream stream_{};
    bool ready_ = false;
    bool ended_ = false;
    foundation::Data image_;
    std::size_t written_ = 0;
    std::size_t expected_;
};
