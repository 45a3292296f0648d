#include "http/NetZlibStream.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace {
// A buffer that fills grows by half the input, and never by less than this.
constexpr std::size_t MinimumGrowth = 16 * 1024;
constexpr std::size_t MaximumSlice = std::size_t{1} << 30;
}  // namespace

NetZlibStream::NetZlibStream(const NetZlibCodec& codec)
    : codec_(codec), zStream_(std::make_unique<z_stream_s>()) {}

NetZlibStream::~NetZlibStream() {
    closeStream();
}

std::optional<foundation::Error> NetZlibStream::setupStream() {
    if (streamReady_) return std::nullopt;
    std::memset(zStream_.get(), 0, sizeof(z_stream_s));
    int status = codec_.init(*zStream_);
    if (status != Z_OK) return codec_.errorWithCode(status);
    streamReady_ = true;
    streamEnded_ = false;
    return std::nullopt;
}

std::optional<foundation::Error> NetZlibStream::closeStream() {
    if (!streamReady_) return std::nullopt;
    streamReady_ = false;
    int status = codec_.end(*zStream_);
    if (status != Z_OK) return codec_.errorWithCode(status);
    return std::nullopt;
}

bool NetZlibStream::needsSlices(std::size_t length) {
    return length > MaximumSlice;
}

std::optional<foundation::Data> NetZlibStream::inSlices(const std::uint8_t* bytes,
                                                        std::size_t length, const Slice& slice) {
    foundation::Data joined;
    for (std::size_t at = 0; at < length; at += MaximumSlice) {
        std::size_t part = std::min(MaximumSlice, length - at);
        auto out = slice(bytes + at, part, at + part == length);
        if (!out) return std::nullopt;
        joined.insert(joined.end(), out->begin(), out->end());
    }
    return joined;
}

bool NetZlibStream::readyForInput(foundation::Error* error) {
    if (streamReady_) return true;
    if (auto failure = setupStream()) {
        if (error != nullptr) *error = *failure;
        return false;
    }
    return true;
}

bool NetZlibStream::closeInto(foundation::Error* error) {
    if (auto failure = closeStream()) {
        if (error != nullptr) *error = *failure;
        return false;
    }
    return true;
}

std::optional<foundation::Data> NetZlibStream::process(int (*run)(z_stream_s*, int),
                                                       const std::uint8_t* bytes,
                                                       std::size_t length, std::size_t initialSize,
                                                       int flush, foundation::Error* error) {
    const std::size_t growth = std::max(length / 2, MinimumGrowth);
    foundation::Data output(initialSize);
    z_stream_s& z = *zStream_;
    z.next_in = const_cast<Bytef*>(bytes);
    z.avail_in = static_cast<uInt>(length);
    const uLong startTotal = z.total_out;
    std::size_t produced = 0;
    for (;;) {
        if (produced >= output.size()) output.resize(output.size() + growth);
        z.next_out = output.data() + produced;
        z.avail_out = static_cast<uInt>(output.size() - produced);
        int status = run(&z, flush);
        produced = z.total_out - startTotal;
        if (status == Z_STREAM_END) {
            streamEnded_ = true;
            break;
        }
        // Without finishing, all input taken and room left over means the chunk is done;
        // a buffer error then only says there was nothing left to do. zlib may still hold
        // output while it fills all the room it was given.
        if (flush != Z_FINISH && z.avail_in == 0 &&
            (status == Z_BUF_ERROR || (status == Z_OK && z.avail_out > 0))) {
            break;
        }
        if (status != Z_OK) {
            if (error != nullptr) *error = codec_.errorWithCode(status);
            return std::nullopt;
        }
    }
    output.resize(produced);
    return output;
}

std::optional<foundation::Data> NetZlibStream::transformWhole(
    foundation::Error* error, const std::function<std::optional<foundation::Data>()>& transform) {
    if (auto failure = setupStream()) {
        if (error != nullptr) *error = *failure;
        return std::nullopt;
    }
    auto result = transform();
    if (!result) return std::nullopt;
    if (!closeInto(error)) return std::nullopt;
    return result;
}
