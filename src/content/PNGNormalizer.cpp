#include "content/PNGNormalizer.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <string_view>

#include "content/PngImageDataInflater.h"
#include "data/helpers/PictureLoader.h"

namespace {

constexpr std::array<std::uint8_t, 8> kSignature = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr std::size_t kMinimumLength = 20;
constexpr std::size_t kChunkOverhead = 12;  // length, type, CRC
constexpr std::uint32_t kMaxChunkLength = 0x7FFFFFFF;

bool hasPNGSignature(std::span<const std::uint8_t> data) {
    return data.size() >= kMinimumLength &&
           std::equal(kSignature.begin(), kSignature.end(), data.begin());
}

// Bytes 12 to 15 are the type of the first chunk.
bool isDeviceStyle(std::span<const std::uint8_t> data) {
    return std::memcmp(data.data() + 12, "CgBI", 4) == 0;
}

void appendUint32(foundation::Data& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

// The image data rows: a filter byte, then 4 bytes per pixel. Pictures the decoder would
// refuse anyway are not inflated either.
std::optional<std::size_t> imageDataSize(std::uint32_t width, std::uint32_t height) {
    std::size_t rowBytes = 0;
    std::size_t total = 0;
    if (width == 0 || height == 0 ||
        std::uint64_t{width} * height > std::uint64_t{PictureLoader::kMaxPixels} ||
        __builtin_mul_overflow(std::size_t{width}, 4, &rowBytes) ||
        __builtin_add_overflow(rowBytes, 1, &rowBytes) ||
        __builtin_mul_overflow(rowBytes, std::size_t{height}, &total)) {
        return std::nullopt;
    }
    return total;
}

// Blue-green-red-alpha to red-green-blue-alpha. Filters work per channel, so swapping the
// channels of the filtered bytes swaps them in the pixels.
void swapRedAndBlue(foundation::Data& image, std::uint32_t width) {
    const std::size_t rowBytes = 1 + std::size_t{width} * 4;
    for (std::size_t row = 0; row + rowBytes <= image.size(); row += rowBytes) {
        for (std::size_t pixel = row + 1; pixel < row + rowBytes; pixel += 4) {
            std::swap(image[pixel], image[pixel + 2]);
        }
    }
}

void appendChunk(foundation::Data& out, std::string_view type, std::span<const std::uint8_t> body) {
    appendUint32(out, static_cast<std::uint32_t>(body.size()));
    const auto* typeBytes = reinterpret_cast<const std::uint8_t*>(type.data());
    out.insert(out.end(), typeBytes, typeBytes + 4);
    out.insert(out.end(), body.begin(), body.end());
    std::uint32_t crc = PNGNormalizer::updateCRC32Bytes(typeBytes, 4, 0xFFFFFFFF);
    crc = PNGNormalizer::updateCRC32Bytes(body.data(), body.size(), crc);
    appendUint32(out, crc ^ 0xFFFFFFFF);
}

// The walk over the chunks of device-style data. Every length is checked against the end
// of the data before it is used.
class DeviceStyleConverter {
public:
    explicit DeviceStyleConverter(std::span<const std::uint8_t> png) : png_(png) {}

    std::optional<foundation::Data> convert() {
        out_.assign(kSignature.begin(), kSignature.end());
        out_.reserve(png_.size() + png_.size() / 2);
        std::size_t at = kSignature.size();
        while (at < png_.size()) {
            if (png_.size() - at < kChunkOverhead) return std::nullopt;
            const std::uint32_t length = PNGNormalizer::peekUint32(png_.data() + at);
            if (length > png_.size() - at - kChunkOverhead) return std::nullopt;
            const std::string_view type(reinterpret_cast<const char*>(png_.data() + at + 4), 4);
            const auto body = png_.subspan(at + 8, length);
            const auto whole = png_.subspan(at, kChunkOverhead + length);
            at += kChunkOverhead + length;

            if (type == "IDAT") {
                if (!header_ || imageDataWritten_) return std::nullopt;
                if (!inflater_) inflater_.emplace(header_->imageDataSize);
                if (!inflater_->feed(body)) return std::nullopt;
                continue;
            }
            if (inflater_ && !imageDataWritten_ && !writeImageData()) return std::nullopt;
            if (type == "CgBI") continue;
            if (type == "IHDR" && !readHeader(body)) return std::nullopt;
            out_.insert(out_.end(), whole.begin(), whole.end());
            if (type == "IEND") break;  // whatever follows is not part of the image
        }
        if (inflater_ && !imageDataWritten_ && !writeImageData()) return std::nullopt;
        // Without a header and image data there is no picture to give.
        if (!imageDataWritten_) return std::nullopt;
        return std::move(out_);
    }

private:
    struct Header {
        std::uint32_t width;
        std::size_t imageDataSize;
    };

    bool readHeader(std::span<const std::uint8_t> body) {
        if (header_ || body.size() < 13) return false;
        const std::uint32_t width = PNGNormalizer::peekUint32(body.data());
        const std::uint32_t height = PNGNormalizer::peekUint32(body.data() + 4);
        const std::uint8_t bitDepth = body[8];
        const std::uint8_t colourType = body[9];
        const std::uint8_t interlace = body[12];
        // Only what the devices write: 8-bit red-green-blue-alpha, rows in order.
        if (bitDepth != 8 || colourType != 6 || interlace != 0) return false;
        const auto size = imageDataSize(width, height);
        if (!size) return false;
        header_ = Header{width, *size};
        return true;
    }

    bool writeImageData() {
        imageDataWritten_ = true;
        auto image = inflater_->finish();
        if (!image) return false;
        swapRedAndBlue(*image, header_->width);
        foundation::Data compressed(compressBound(image->size()));
        const std::size_t length = PNGNormalizer::deflateData(*image, compressed);
        if (length == 0 || length > kMaxChunkLength) return false;
        appendChunk(out_, "IDAT", std::span(compressed).first(length));
        return true;
    }

    std::span<const std::uint8_t> png_;
    foundation::Data out_;
    std::optional<Header> header_;
    std::optional<PngImageDataInflater> inflater_;
    bool imageDataWritten_ = false;
};

constexpr std::array<std::uint32_t, 256> makeCrcTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}
constexpr auto kCrcTable = makeCrcTable();

}  // namespace

std::optional<foundation::Data> PNGNormalizer::dataFromPNGData(foundation::Data data) {
    if (!hasPNGSignature(data)) return std::nullopt;
    if (!isDeviceStyle(data)) return data;
    return DeviceStyleConverter(data).convert();
}

bool PNGNormalizer::isGoodPNGData(std::span<const std::uint8_t> data) {
    return hasPNGSignature(data) && !isDeviceStyle(data);
}

std::uint32_t PNGNormalizer::updateCRC32(std::uint8_t byte, std::uint32_t crc) {
    return kCrcTable[(crc ^ byte) & 0xFF] ^ (crc >> 8);
}

std::uint32_t PNGNormalizer::updateCRC32Bytes(const std::uint8_t* bytes, std::size_t length,
                                              std::uint32_t crc) {
    for (std::size_t i = 0; i < length; ++i) crc = updateCRC32(bytes[i], crc);
    return crc;
}

std::uint32_t PNGNormalizer::updateCRC32Uint32(std::uint32_t value, std::uint32_t crc) {
    for (int shift = 0; shift < 32; shift += 8) {
        crc = updateCRC32(static_cast<std::uint8_t>(value >> shift), crc);
    }
    return crc;
}

std::uint32_t PNGNormalizer::peekUint32(const std::uint8_t* bytes) {
    return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 |
           std::uint32_t{bytes[2]} << 8 | bytes[3];
}

std::uint32_t PNGNormalizer::nextUint32(const std::uint8_t*& cursor) {
    const std::uint32_t value = peekUint32(cursor);
    cursor += 4;
    return value;
}

std::optional<std::size_t> PNGNormalizer::inflateData(std::span<const std::uint8_t> source,
                                                      std::span<std::uint8_t> destination) {
    PngImageDataInflater inflater(destination.size());
    if (!inflater.feed(source)) return std::nullopt;
    auto bytes = inflater.finish();
    if (!bytes) return std::nullopt;
    std::copy(bytes->begin(), bytes->end(), destination.begin());
    return bytes->size();
}

std::size_t PNGNormalizer::deflateData(std::span<const std::uint8_t> source,
                                       std::span<std::uint8_t> destination) {
    z_stream stream{};
    if (deflateInit(&stream, Z_DEFAULT_COMPRESSION) != Z_OK) return 0;
    std::size_t read = 0;
    std::size_t written = 0;
    std::size_t result = 0;
    for (;;) {
        const auto inPiece =
            static_cast<uInt>(std::min<std::size_t>(source.size() - read, UINT_MAX));
        const auto outPiece =
            static_cast<uInt>(std::min<std::size_t>(destination.size() - written, UINT_MAX));
        if (outPiece == 0) break;
        stream.next_in = const_cast<Bytef*>(source.data() + read);
        stream.avail_in = inPiece;
        stream.next_out = destination.data() + written;
        stream.avail_out = outPiece;
        const bool last = read + inPiece == source.size();
        const int status = deflate(&stream, last ? Z_FINISH : Z_NO_FLUSH);
        const std::size_t consumed = inPiece - stream.avail_in;
        const std::size_t produced = outPiece - stream.avail_out;
        read += consumed;
        written += produced;
        if (status == Z_STREAM_END) {
            result = written;
            break;
        }
        if ((status != Z_OK && status != Z_BUF_ERROR) || (consumed == 0 && produced == 0)) break;
    }
    deflateEnd(&stream);
    return result;
}
