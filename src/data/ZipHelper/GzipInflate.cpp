#include "data/ZipHelper/GzipInflate.h"

#include <zlib.h>

#include <algorithm>

namespace ziphelper {
namespace {

constexpr std::size_t kMinimumCapacity = 10240;
constexpr std::size_t kMaximumRatio = 1032;

}  // namespace

std::optional<foundation::Data> inflateGzipMember(std::span<const std::uint8_t> input,
                                                  std::size_t pieceLimit) {
    if (input.empty() || pieceLimit == 0) return std::nullopt;
    pieceLimit = std::min<std::size_t>(pieceLimit, UINT_MAX);
    GzipInflateStream inflater;
    if (!inflater.ready()) return std::nullopt;
    z_stream& stream = inflater.get();

    // A gzip member ends with its inflated size (modulo 4 GiB). When the input starts like a
    // gzip member and that figure is plausible (deflate expands at most 1032 times), it sizes
    // the buffer, so that a single-member stream is inflated without a copy. Otherwise, or
    // when the figure was not this member's, the buffer grows by at least a fifth of the
    // input, and by half its size for large ratios so the copies stay linear.
    const std::size_t n = input.size();
    const std::size_t step = std::max(n / 5, kMinimumCapacity);
    std::size_t capacity = n < kMinimumCapacity ? kMinimumCapacity : n - n % kMinimumCapacity;
    if (n >= 18 && input[0] == 0x1f && input[1] == 0x8b && input[2] == 8) {
        const std::size_t hint = std::size_t{input[n - 4]} | std::size_t{input[n - 3]} << 8 |
                                 std::size_t{input[n - 2]} << 16 | std::size_t{input[n - 1]} << 24;
        if (hint / kMaximumRatio <= n) capacity = std::max<std::size_t>(hint, 1);
    }
    foundation::Data output(capacity);
    std::size_t read = 0;
    std::size_t written = 0;
    for (;;) {
        if (written == output.size())
            output.resize(output.size() + std::max(step, output.size() / 2));
        const auto inPiece = static_cast<uInt>(std::min(n - read, pieceLimit));
        const auto outPiece = static_cast<uInt>(std::min(output.size() - written, pieceLimit));
        stream.next_in = const_cast<Bytef*>(input.data() + read);
        stream.avail_in = inPiece;
        stream.next_out = output.data() + written;
        stream.avail_out = outPiece;
        const int status = inflate(&stream, Z_NO_FLUSH);
        read += inPiece - stream.avail_in;
        written += outPiece - stream.avail_out;
        if (status == Z_STREAM_END) {
            output.resize(written);
            // A stated size that was not this member's may have left much unused room.
            if (output.capacity() > written + written / 2 + kMinimumCapacity)
                output.shrink_to_fit();
            return output;
        }
        // No progress with room to write means the input ran out: the stream was cut short.
        if (status == Z_BUF_ERROR && read == n) return std::nullopt;
        if (status != Z_OK && status != Z_BUF_ERROR) return std::nullopt;
    }
}

}  // namespace ziphelper
