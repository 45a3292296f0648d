#include "http/NetDataCompressor.h"

#include <fmt/format.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "http/NetErrors.h"
#include "http/NetZlibFileTransform.h"

namespace {
// A buffer that fills grows by half the input, and never by less than this.
constexpr std::size_t MinimumGrowth = 16 * 1024;
// 32 KiB window; adding 16 writes the gzip wrapper.
constexpr int DeflateWindowBits = 15 + 16;
constexpr int DeflateMemoryLevel = 8;
constexpr std::size_t MaximumSlice = std::size_t{1} << 30;
}  // namespace

NetDataCompressor::NetDataCompressor() : zStream_(std::make_unique<z_stream_s>()) {}

NetDataCompressor::~NetDataCompressor() {
    closeStream();
}

std::unique_ptr<NetDataCompressor> NetDataCompressor::compressor() {
    auto result = std::make_unique<NetDataCompressor>();
    result->setupStream();
    return result;
}

std::optional<foundation::Error> NetDataCompressor::setupStream() {
    if (streamReady_) return std::nullopt;
    std::memset(zStream_.get(), 0, sizeof(z_stream_s));
    int status = deflateInit2(zStream_.get(), Z_DEFAULT_COMPRESSION, Z_DEFLATED, DeflateWindowBits,
                              DeflateMemoryLevel, Z_DEFAULT_STRATEGY);
    if (status != Z_OK) return deflateErrorWithCode(status);
    streamReady_ = true;
    streamFinished_ = false;
    return std::nullopt;
}

std::optional<foundation::Error> NetDataCompressor::closeStream() {
    if (!streamReady_) return std::nullopt;
    streamReady_ = false;
    int status = deflateEnd(zStream_.get());
    // An unfinished stream ends with Z_DATA_ERROR; that only says data was discarded.
    if (status != Z_OK && status != Z_DATA_ERROR) return deflateErrorWithCode(status);
    return std::nullopt;
}

std::optional<foundation::Data> NetDataCompressor::compressBytes(const std::uint8_t* bytes,
                                                                 std::size_t length,
                                                                 foundation::Error* error,
                                                                 bool shouldFinish) {
    if (length == 0 && (!shouldFinish || streamFinished_)) return foundation::Data{};
    if (length > MaximumSlice) {
        // zlib counts input in 32 bits: larger chunks go in slices, the last one finishing.
        foundation::Data joined;
        for (std::size_t at = 0; at < length; at += MaximumSlice) {
            std::size_t part = std::min(MaximumSlice, length - at);
            auto out = compressBytes(bytes + at, part, error, shouldFinish && at + part == length);
            if (!out) return std::nullopt;
            joined.insert(joined.end(), out->begin(), out->end());
        }
        return joined;
    }
    if (!streamReady_) {
        if (auto failure = setupStream()) {
            if (error != nullptr) *error = *failure;
            return std::nullopt;
        }
    }
    const std::size_t growth = std::max(length / 2, MinimumGrowth);
    foundation::Data output(length / 2);
    z_stream_s& z = *zStream_;
    z.next_in = const_cast<Bytef*>(bytes);
    z.avail_in = static_cast<uInt>(length);
    const uLong startTotal = z.total_out;
    std::size_t produced = 0;
    const int flush = shouldFinish ? Z_FINISH : Z_NO_FLUSH;
    for (;;) {
        if (produced >= output.size()) output.resize(output.size() + growth);
        z.next_out = output.data() + produced;
        z.avail_out = static_cast<uInt>(output.size() - produced);
        int status = deflate(&z, flush);
        produced = z.total_out - startTotal;
        if (status == Z_STREAM_END) {
            streamFinished_ = true;
            break;
        }
        // Without finishing, all input taken and room left over means the chunk is done;
        // a buffer error then only says there was nothing left to do.
        if (!shouldFinish && z.avail_in == 0 &&
            (status == Z_BUF_ERROR || (status == Z_OK && z.avail_out > 0))) {
            break;
        }
        if (status != Z_OK) {
            if (error != nullptr) *error = deflateErrorWithCode(status);
            return std::nullopt;
        }
    }
    output.resize(produced);
    return output;
}

std::optional<foundation::Data> NetDataCompressor::compressData(std::span<const std::uint8_t> data,
                                                                foundation::Error* error) {
    NetDataCompressor compressor;
    if (auto failure = compressor.setupStream()) {
        if (error != nullptr) *error = *failure;
        return std::nullopt;
    }
    auto result = compressor.compressBytes(data.data(), data.size(), error, true);
    if (!result) return std::nullopt;
    if (auto failure = compressor.closeStream()) {
        if (error != nullptr) *error = *failure;
        return std::nullopt;
    }
    return result;
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
        auto output =
            compressor.compressBytes(bytes, length, stepError, length < NetZlibFileChunkSize);
        if (output && atEnd) {
            if (auto failure = compressor.closeStream()) {
                if (stepError != nullptr) *stepError = *failure;
                return std::nullopt;
            }
        }
        return output;
    };
    return netTransformFile(sourcePath, destinationPath, "Compression", setupError, step, error);
}

foundation::Error NetDataCompressor::deflateErrorWithCode(int code) {
    return makeNetError(NetCompressionError,
                        fmt::format("Compression of data failed with code {}", code));
}
