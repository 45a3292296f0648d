#pragma once

#include <cstdint>
#include <vector>

namespace media {

// A decoded picture: 8-bit red, green, blue and alpha per pixel, rows of 4 x width bytes.
struct RgbaImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;

    const std::uint8_t* pixel(int x, int y) const { return &pixels[(y * width + x) * 4]; }
};

}  // namespace media
