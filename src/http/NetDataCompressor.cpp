#include "http/NetDataCompressor.h"

#include <fmt/format.h>
#include <zlib.h>

#include "http/NetErrors.h"
#include "http/NetZlibFileTransform.h"

namespace {
// 32 KiB window; adding 16 writes the gzip wrapper.
constexpr int DeflateWindowBits = 15 + 16;
constexpr int DeflateMemoryLevel = 8;

const NetZlibCodec DeflateCodec{
    [](z_stream_s& z) {
        return deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, DeflateWindowBits,
                            DeflateMemoryLevel, Z_DEFAULT_STRATEGY);
    },
    [](z_stream_s& z) {
        int status = deflateEnd(&z);
        // An unfinished stream ends with Z_DATA_ERROR; that only says data was discarded.
        return status == Z_DATA_ERROR ? Z_OK : status;
    },
    &NetDataCompressor::deflateErrorWithCode,
};
}  // namespace

NetDataCompressor::NetDataCompressor() : NetZlibStream(DeflateCodec) {}

std::unique_ptr<NetDataCompressor> NetDataCompressor::compressor() {
    auto result = std::make_unique<NetDataCompressor>();
    result->setupStream();
    return result;
}

std::optional<foundation::Data> NetDataCompressor::compressBytes(const std::uint8_t* bytes,
                                                                 std::size_t length,
                                                                 foundation::Error* error,
                                                                 bool shouldFinish) {
    // Nothing to deflate gives nothing, and no error.
    if (length == 0) return std::nullopt;
    if (needsSlices(length)) {
        return inSlices(bytes, length, [&](const std::uint8_t* part, std::size_t size, bool last) {
            return compressBytes(part, size, error, shouldFinish && last);
        });
    }
    if (!readyForInput(error)) return std::nullopt;
    return process(&deflate, bytes, length, length / 2, shouldFinish ? Z_FINISH : Z_NO_FLUSH,
                   error);
}

std::optional<foundation::Data> NetDataCompressor::finishStream(foundation::Error* error) {
    if (streamFinished()) return foundation::Data{};
    if (!readyForInput(error)) return std::nullopt;
    return process(&deflate, nullptr, 0, 0, Z_FINISH, error);
}

std::optional<foundation::Data> NetDataCompressor::compressData(std::span<const std::uint8_t> data,
                                                                foundation::Error* error) {
    NetDataCompressor compressor;
    return compressor.transformWhole(
        error, [&] { return compressor.compressBytes(data.data(), data.size(), error, true); });
}

bool NetDataCompressor::compressDataFromFile(const std::string& sourcePath,
                                             const std::string& destinationPath,
                                             foundation::Error* error) {
    NetDataCompressor compressor;
    auto setupError = compressor.setupStream();
    auto step = [&](const std::uint8_t* bytes, std::size_t length, bool atEnd,
                    foundation::Error* stepError) -> std::optional<foundation::Data> {
        // A short chunk is the last; at the end of the file the stream is finished in any
        // case, also for an empty file or one of whole chunks.
        if (!atEnd)
            return compressor.compressBytes(bytes, length, stepError, length < NetZlibFileChunkSize);
        auto output = compressor.finishStream(stepError);
        if (output && !compressor.closeInto(stepError)) return std::nullopt;
        return output;
    };
    return netTransformFile(sourcePath, destinationPath, "Compression", setupError, step, error);
}

foundation::Error NetDataCompressor::deflateErrorWithCode(int code) {
    return makeNetError(NetCompressionError,
                        fmt::format("Compression of data failed with code {}", code));
}
