#include "http/NetDataDecompressor.h"

#include <fmt/format.h>
#include <zlib.h>

#include "http/NetErrors.h"
#include "http/NetZlibFileTransform.h"

namespace {
// 32 KiB window; adding 32 lets zlib recognise a gzip or a zlib header.
constexpr int InflateWindowBits = 15 + 32;

const NetZlibCodec InflateCodec{
    [](z_stream_s& z) { return inflateInit2(&z, InflateWindowBits); },
    [](z_stream_s& z) { return inflateEnd(&z); },
    &NetDataDecompressor::inflateErrorWithCode,
};
}  // namespace

NetDataDecompressor::NetDataDecompressor() : NetZlibStream(InflateCodec) {}

std::unique_ptr<NetDataDecompressor> NetDataDecompressor::decompressor() {
    auto result = std::make_unique<NetDataDecompressor>();
    result->setupStream();
    return result;
}

std::optional<foundation::Data> NetDataDecompressor::uncompressBytes(const std::uint8_t* bytes,
                                                                     std::size_t length,
                                                                     foundation::Error* error) {
    // Nothing to inflate gives nothing, and no error.
    if (length == 0) return std::nullopt;
    if (needsSlices(length)) {
        return inSlices(bytes, length, [&](const std::uint8_t* part, std::size_t size, bool) {
            return uncompressBytes(part, size, error);
        });
    }
    if (!readyForInput(error)) return std::nullopt;
    // Whatever follows the end marker is not part of the stream.
    if (streamEnded()) return foundation::Data{};
    return process(&inflate, bytes, length, length + length / 2, Z_NO_FLUSH, error);
}

std::optional<foundation::Data> NetDataDecompressor::uncompressData(
    std::span<const std::uint8_t> data, foundation::Error* error) {
    NetDataDecompressor decompressor;
    return decompressor.transformWhole(
        error, [&] { return decompressor.uncompressBytes(data.data(), data.size(), error); });
}

bool NetDataDecompressor::uncompressDataFromFile(const std::string& sourcePath,
                                                 const std::string& destinationPath,
                                                 foundation::Error* error) {
    NetDataDecompressor decompressor;
    auto setupError = decompressor.setupStream();
    bool readSome = false;
    auto step = [&](const std::uint8_t* bytes, std::size_t length, bool atEnd,
                    foundation::Error* stepError) -> std::optional<foundation::Data> {
        if (!atEnd) {
            readSome = readSome || length > 0;
            return decompressor.uncompressBytes(bytes, length, stepError);
        }
        // An empty file inflates to an empty one; a file that stops before its end marker is
        // cut short: not a whole result.
        if (readSome && !decompressor.streamEnded()) {
            if (stepError != nullptr) *stepError = inflateErrorWithCode(Z_BUF_ERROR);
            return std::nullopt;
        }
        if (!decompressor.closeInto(stepError)) return std::nullopt;
        return foundation::Data{};
    };
    return netTransformFile(sourcePath, destinationPath, "Decompression", setupError, step, error);
}

foundation::Error NetDataDecompressor::inflateErrorWithCode(int code) {
    return makeNetError(NetCompressionError,
                        fmt::format("Decompression of data failed with code {}", code));
}
