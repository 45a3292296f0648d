#include "content/PngImageDataInflater.h"

#include <algorithm>
#include <climits>

namespace {
// Raw deflate, no zlib header; the widest window reads streams written with any window.
constexpr int kRawWindowBits = -15;
constexpr std::size_t kFirstRoom = 64 * 1024;
}  // namespace

PngImageDataInflater::PngImageDataInflater(std::size_t expectedSize) : expected_(expectedSize) {
    ready_ = inflateInit2(&stream_, kRawWindowBits) == Z_OK;
}

PngImageDataInflater::~PngImageDataInflater() {
    if (ready_) inflateEnd(&stream_);
}

bool PngImageDataInflater::feed(std::span<const std::uint8_t> compressed) {
    if (!ready_) return false;
    while (!compressed.empty() && !ended_ && written_ < expected_) {
        if (written_ == image_.size()) {
            image_.resize(std::min(expected_, std::max(kFirstRoom, image_.size() * 2)));
        }
        const auto inPiece = static_cast<uInt>(std::min<std::size_t>(compressed.size(), UINT_MAX));
        const auto outPiece =
            static_cast<uInt>(std::min<std::size_t>(image_.size() - written_, UINT_MAX));
        stream_.next_in = const_cast<Bytef*>(compressed.data());
        stream_.avail_in = inPiece;
        stream_.next_out = image_.data() + written_;
        stream_.avail_out = outPiece;
        const int status = inflate(&stream_, Z_SYNC_FLUSH);
        const std::size_t consumed = inPiece - stream_.avail_in;
        const std::size_t produced = outPiece - stream_.avail_out;
        compressed = compressed.subspan(consumed);
        written_ += produced;
        if (status == Z_STREAM_END) {
            ended_ = true;
        } else if (status != Z_OK && status != Z_BUF_ERROR) {
            return false;
        } else if (consumed == 0 && produced == 0) {
            return false;  // zlib can make no progress with room on both sides
        }
    }
    return true;
}

std::optional<foundation::Data> PngImageDataInflater::finish() {
    if (!ready_ || written_ != expected_) return std::nullopt;
    image_.resize(written_);
    return std::move(image_);
}
