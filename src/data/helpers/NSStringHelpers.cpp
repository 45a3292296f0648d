#include "data/helpers/NSStringHelpers.h"

#include <fmt/format.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>
#include <uuid/uuid.h>

#include <algorithm>

namespace NSString {

std::string guid() {
    uuid_t id;
    uuid_generate_random(id);
    char text[37];
    uuid_unparse_upper(id, text);
    return text;
}

std::string CapacityString(std::uint64_t bytes) {
    constexpr std::uint64_t kKB = 1024;
    constexpr std::uint64_t kMB = kKB * 1024;
    constexpr std::uint64_t kGB = kMB * 1024;
    if (bytes == 0) return "0";
    if (bytes == 1) return "1 byte";
    if (bytes < kKB) return fmt::format("{} bytes", bytes);
    const auto count = static_cast<double>(bytes);
    if (bytes < kMB) return fmt::format("{:.2f} KB", count / kKB);
    if (bytes < kGB) return fmt::format("{:.2f} MB", count / kMB);
    return fmt::format("{:.2f} GB", count / kGB);
}

bool IsEmpty(std::optional<std::string_view> text) {
    if (!text) return true;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text->data());
    const std::size_t size = text->size();
    for (std::size_t at = 0; at < size;) {
        // One code point at a time, decoded from a window of at most four bytes.
        const auto window = static_cast<std::int32_t>(std::min<std::size_t>(size - at, 4));
        std::int32_t used = 0;
        UChar32 c;
        U8_NEXT(bytes + at, used, window, c);
        at += static_cast<std::size_t>(used);
        if (c == '\t') continue;
        if (c < 0 || u_charType(c) != U_SPACE_SEPARATOR) return false;
    }
    return true;
}

std::string safeString(const std::optional<std::string>& text) {
    return text.value_or("");
}

}  // namespace NSString
