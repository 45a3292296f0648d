#include "media/ThumbnailDecoder.h"

#include <cstring>

namespace media {

namespace {

bool dimensionsFit(int width, int height) {
    return width > 0 && height > 0 && width <= ThumbnailDecoder::kMaxDimension &&
           height <= ThumbnailDecoder::kMaxDimension;
}

std::uint32_t packRGBA(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    const std::uint8_t bytes[4] = {r, g, b, 255};
    std::uint32_t word;
    std::memcpy(&word, bytes, 4);
    return word;
}

template <typename Convert>
std::optional<RgbaImage> decode16(ThumbnailDecoder::Bytes pixels, int width, int height,
                                  Convert convert, bool bigEndian = false) {
    if (!dimensionsFit(width, height)) return std::nullopt;
    const std::size_t stride = (static_cast<std::size_t>(width) + 1) & ~std::size_t{1};
    if (pixels.size() / 2 / stride < static_cast<std::size_t>(height)) return std::nullopt;
    RgbaImage image{width, height, std::vector<std::uint8_t>(std::size_t(width) * height * 4)};
    std::uint8_t* out = image.pixels.data();
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = pixels.data() + y * stride * 2;
        for (int x = 0; x < width; ++x) {
            const std::uint8_t low = row[2 * x + (bigEndian ? 1 : 0)];
            const std::uint8_t high = row[2 * x + (bigEndian ? 0 : 1)];
            const auto pixel = static_cast<std::uint16_t>(low | (high << 8));
            const std::uint32_t rgba = convert(pixel);
            std::memcpy(out, &rgba, 4);
            out += 4;
        }
    }
    return image;
}

// Video-range YCbCr to RGB, clamped.
void yuvToRgb(int y, int u, int v, std::uint8_t* out) {
    const double luma = 1.164383 * (y - 16);
    const double cb = u - 128;
    const double cr = v - 128;
    out[0] = ThumbnailDecoder::ucmax(static_cast<int>(luma + 1.596027 * cr));
    out[1] = ThumbnailDecoder::ucmax(static_cast<int>(luma - 0.391762 * cb - 0.812968 * cr));
    out[2] = ThumbnailDecoder::ucmax(static_cast<int>(luma + 2.017232 * cb));
}

// Red, green, blue bytes to an opaque picture.
std::optional<RgbaImage> opaque(const std::optional<std::vector<std::uint8_t>>& rgb, int width,
                                int height) {
    if (!rgb) return std::nullopt;
    RgbaImage image{width, height, std::vector<std::uint8_t>(std::size_t(width) * height * 4)};
    for (std::size_t i = 0, n = std::size_t(width) * height; i < n; ++i) {
        std::memcpy(&image.pixels[i * 4], &(*rgb)[i * 3], 3);
        image.pixels[i * 4 + 3] = 255;
    }
    return image;
}

}  // namespace

std::uint8_t ThumbnailDecoder::ucmax(int value) {
    return static_cast<std::uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
}

std::uint32_t ThumbnailDecoder::RGB555toRGBA(std::uint16_t pixel) {
    return packRGBA(static_cast<std::uint8_t>(((pixel >> 10) & 0x1F) << 3),
                    static_cast<std::uint8_t>(((pixel >> 5) & 0x1F) << 3),
                    static_cast<std::uint8_t>((pixel & 0x1F) << 3));
}

std::uint32_t ThumbnailDecoder::RGB565toRGBA(std::uint16_t pixel) {
    const unsigned r = (pixel >> 11) & 0x1F;
    const unsigned g = (pixel >> 5) & 0x3F;
    const unsigned b = pixel & 0x1F;
    return packRGBA(static_cast<std::uint8_t>((r << 3) | (r >> 2)),
                    static_cast<std::uint8_t>((g << 2) | (g >> 4)),
                    static_cast<std::uint8_t>((b << 3) | (b >> 2)));
}

std::optional<RgbaImage> ThumbnailDecoder::ImageFromRGB555(Bytes pixels, int width, int height) {
    return decode16(pixels, width, height, RGB555toRGBA);
}

std::optional<RgbaImage> ThumbnailDecoder::ImageFromRGB565(Bytes pixels, int width, int height) {
    return decode16(pixels, width, height, RGB565toRGBA);
}

std::optional<RgbaImage> ThumbnailDecoder::ImageFromRGB565BigEndian(Bytes pixels, int width,
                                                                    int height) {
    return decode16(pixels, width, height, RGB565toRGBA, true);
}

std::optional<std::vector<std::uint8_t>> ThumbnailDecoder::YUY2toRGB(Bytes pixels, int width,
                                                                     int height) {
    if (!dimensionsFit(width, height) || width % 2 != 0) return std::nullopt;
    const std::size_t rowBytes = std::size_t(width) * 2;
    if (pixels.size() / rowBytes < static_cast<std::size_t>(height)) return std::nullopt;
    std::vector<std::uint8_t> rgb(std::size_t(width) * height * 3);
    const int firstField = (height + 1) / 2;
    for (int row = 0; row < height; ++row) {
        const int outRow = row < firstField ? 2 * row : 2 * (row - firstField) + 1;
        const std::uint8_t* in = pixels.data() + row * rowBytes;
        std::uint8_t* out = rgb.data() + std::size_t(outRow) * width * 3;
        for (int x = 0; x < width; x += 2, in += 4, out += 6) {
            yuvToRgb(in[1], in[0], in[2], out);
            yuvToRgb(in[3], in[0], in[2], out + 3);
        }
    }
    return rgb;
}

std::optional<RgbaImage> ThumbnailDecoder::ImageFromUYVY(Bytes pixels, int width, int height) {
    return opaque(YUY2toRGB(pixels, width, height), width, height);
}

std::optional<RgbaImage> ThumbnailDecoder::ImageFromI420(Bytes pixels, int width, int height) {
    return opaque(YV12toRGB(pixels, width, height), width, height);
}

std::optional<std::vector<std::uint8_t>> ThumbnailDecoder::YV12toRGB(Bytes pixels, int width,
                                                                     int height) {
    if (!dimensionsFit(width, height)) return std::nullopt;
    const std::size_t lumaSize = std::size_t(width) * height;
    const std::size_t chromaWidth = width / 2;
    const std::size_t chromaSize = chromaWidth * (height / 2);
    if (pixels.size() < lumaSize + 2 * chromaSize) return std::nullopt;
    const std::uint8_t* luma = pixels.data();
    const std::uint8_t* uPlane = luma + lumaSize;
    const std::uint8_t* vPlane = uPlane + chromaSize;
    std::vector<std::uint8_t> rgb(lumaSize * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            // A last odd column or row shares the chroma of the one before it.
            const std::size_t cx = std::min<std::size_t>(x / 2, chromaWidth ? chromaWidth - 1 : 0);
            const std::size_t cy = std::min<std::size_t>(y / 2, height / 2 ? height / 2 - 1 : 0);
            const std::size_t c = cx + cy * chromaWidth;
            const int u = chromaSize ? uPlane[c] : 128;
            const int v = chromaSize ? vPlane[c] : 128;
            yuvToRgb(luma[std::size_t(y) * width + x], u, v,
                     &rgb[(std::size_t(y) * width + x) * 3]);
        }
    }
    return rgb;
}

}  // namespace media
