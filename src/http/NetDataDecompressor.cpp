#include "http/NetDataDecompressor.h"

#include <fmt/format.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "http/NetErrors.h"
#include "http/NetZlibFileTransform.h"

namespace {
// A buffer that fills grows by half the input, and never by less than this.
constexpr std::size_t MinimumGrowth = 16 * 1024;
// 32 KiB window; adding 32 lets zlib recognise a gzip or a zlib header.
constexpr int InflateWindowBits = 15 + 32;
constexpr std::size_t MaximumSlice = std::size_t{1} << 30;
}  // namespace

NetDataDecompressor::NetDataDecompressor() : zStream_(std::make_unique<z_stream_s>()) {}

NetDataDecompressor::~NetDataDecompressor() {
    closeStream();
}

std::unique_ptr<NetDataDecompressor> NetDataDecompressor::decompressor() {
    auto result = std::make_unique<NetDataDecompressor>();
    result->setupStream();
    return result;
}

std::optional<foundation::Error> NetDataDecompressor::setupStream() {
    if (streamReady_) return std::nullopt;
    std::memset(zStream_.get(), 0, sizeof(z_stream_s));
    int status = inflateInit2(zStream_.get(), InflateWindowBits);
    if (status != Z_OK) return inflateErrorWithCode(status);
    streamReady_ = true;
    streamEnded_ = false;
    return std::nullopt;
}

std::optional<foundation::Error> NetDataDecompressor::closeStream() {
    if (!streamReady_) return std::nullopt;
    streamReady_ = false;
    int status = inflateEnd(zStream_.get());
    if (status != Z_OK) return inflateErrorWithCode(status);
    return std::nullopt;
}

std::optional<foundation::Data> NetDataDecompressor::uncompressBytes(const std::uint8_t* bytes,
                                                                     std::size_t length,
                                                                     foundation::Error* error) {
    if (length == 0) return foundation::Data{};
    if (length > MaximumSlice) {
        // zlib counts input in 32 bits: larger chunks go in slices.
        foundation::Data joined;
        for (std::size_t at = 0; at < length; at += MaximumSlice) {
            auto part = uncompressBytes(bytes + at, std::min(MaximumSlice, length - at), error);
            if (!part) return std::nullopt;
            joined.insert(joined.end(), part->begin(), part->end());
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
    foundation::Data output(length + length / 2);
    z_stream_s& z = *zStream_;
    z.next_in = const_cast<Bytef*>(bytes);
    z.avail_in = static_cast<uInt>(length);
    const uLong startTotal = z.total_out;
    std::size_t produced = 0;
    // Keep going while zlib has input or filled all the space it was given: in the latter
    // case it may still hold output.
    while (!streamEnded_) {
        if (produced >= output.size()) output.resize(output.size() + growth);
        z.next_out = output.data() + produced;
        z.avail_out = static_cast<uInt>(output.size() - produced);
        int status = inflate(&z, Z_NO_FLUSH);
        produced = z.total_out - startTotal;
        if (status == Z_STREAM_END) {
            streamEnded_ = true;
            break;
        }
        if (status == Z_BUF_ERROR && z.avail_in == 0) break;  // nothing more without input
        if (status != Z_OK) {
            if (error != nullptr) *error = inflateErrorWithCode(status);
            return std::nullopt;
        }
        if (z.avail_in == 0 && z.avail_out > 0) break;
    }
    output.resize(produced);
    return output;
}

std::optional<foundation::Data> NetDataDecompressor::uncompressData(
    std::span<const std::uint8_t> data, foundation::Error* error) {
    NetDataDecompressor decompressor;
    if (auto failure = decompressor.setupStream()) {
        if (error != nullptr) *error = *failure;
        return std::nullopt;
    }
    auto result = decompressor.uncompressBytes(data.data(), data.size(), error);
    if (!result) return std::nullopt;
    if (auto failure = decompressor.closeStream()) {
        if (error != nullptr) *error = *failure;
        return std::nullopt;
    }
    return result;
}

bool NetDataDecompressor::uncompressDataFromFile(const std::string& sourcePath,
                                                 const std::string& destinationPath,
                                                 foundation::Error* error) {
    NetDataDecompressor decompressor;
    auto setupError = decompressor.setupStream();
    auto step = [&](const std::uint8_t* bytes, std::size_t length, bool atEnd,
                    foundation::Error* stepError) -> std::optional<foundation::Data> {
        if (!atEnd) return decompressor.uncompressBytes(bytes, length, stepError);
        // A file that stops before its end marker is cut short: not a whole result.
        if (!decompressor.streamEnded()) {
            if (stepError != nullptr) *stepError = inflateErrorWithCode(Z_BUF_ERROR);
            return std::nullopt;
        }
        if (auto failure = decompressor.closeStream()) {
            if (stepError != nullptr) *stepError = *failure;
            return std::nullopt;
        }
        return foundation::Data{};
    };
    return netTransformFile(sourcePath, destinationPath, "Decompression", setupError, step, error);
}

foundation::Error NetDataDecompressor::inflateErrorWithCode(int code) {
    return makeNetError(NetCompressionError,
                        fmt::format("Decompression of data failed with code {}", code));
}
