#include "media/ByteCursor.h"

#include <algorithm>

namespace media {

std::optional<ByteCursor> ByteCursor::child(std::size_t n) {
    auto bytes = read(n);
    if (!bytes) return std::nullopt;
    return ByteCursor(*bytes);
}

bool ByteCursor::hasTag(Bytes bytes, std::string_view tag) {
    if (bytes.size() < tag.size()) return false;
    return std::equal(tag.begin(), tag.end(), bytes.begin(),
                      [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; });
}

ByteCursor::Bytes ByteCursor::slice(Bytes bytes, std::size_t from, std::size_t n) {
    if (from >= bytes.size()) return {};
    return bytes.subspan(from, std::min(n, bytes.size() - from));
}

}  // namespace media
