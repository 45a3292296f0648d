#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "foundation/Error.h"
#include "foundation/Value.h"

struct z_stream_s;

// How one direction of zlib starts, ends and reports a stream.
struct NetZlibCodec {
    int (*init)(z_stream_s& stream);
    // The status of ending the stream; Z_OK when it ended well.
    int (*end)(z_stream_s& stream);
    foundation::Error (*errorWithCode)(int code);
};

// One zlib stream, deflating or inflating: its set-up and end, input cut to what zlib can
// count, and the output buffer that grows as zlib fills it.
class NetZlibStream {
public:
    ~NetZlibStream();
    NetZlibStream(const NetZlibStream&) = delete;
    NetZlibStream& operator=(const NetZlibStream&) = delete;

    std::optional<foundation::Error> setupStream();
    std::optional<foundation::Error> closeStream();
    bool streamReady() const { return streamReady_; }

protected:
    explicit NetZlibStream(const NetZlibCodec& codec);

    // zlib counts input in 32 bits: larger chunks go through `slice` in parts, the last one
    // marked, and their outputs are joined.
    using Slice = std::function<std::optional<foundation::Data>(const std::uint8_t* bytes,
                                                                std::size_t length, bool last)>;
    static std::optional<foundation::Data> inSlices(const std::uint8_t* bytes, std::size_t length,
                                                    const Slice& slice);
    static bool needsSlices(std::size_t length);

    // Sets the stream up when it is not; false with `error` set when that fails.
    bool readyForInput(foundation::Error* error);
    // Closes the stream; false with `error` set when that fails.
    bool closeInto(foundation::Error* error);
    // Runs zlib's `run` (deflate or inflate) over one chunk with `flush`, into a buffer
    // that starts at `initialSize`, until the stream ends or, when not finishing, all input
    // is taken. The stream must be ready.
    std::optional<foundation::Data> process(int (*run)(z_stream_s*, int), const std::uint8_t* bytes,
                                            std::size_t length, std::size_t initialSize, int flush,
                                            foundation::Error* error);
    // Sets up this fresh stream, runs `transform` and closes the stream again.
    std::optional<foundation::Data> transformWhole(
        foundation::Error* error,
        const std::function<std::optional<foundation::Data>()>& transform);

    bool reachedStreamEnd() const { return streamEnded_; }

private:
    NetZlibCodec codec_;
    std::unique_ptr<z_stream_s> zStream_;
    bool streamReady_ = false;
    bool streamEnded_ = false;
};
