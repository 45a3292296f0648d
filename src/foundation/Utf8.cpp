#include "foundation/Utf8.h"

#include <cstdint>
#include <cstring>

namespace foundation::utf8 {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

struct Decoded {
    char32_t codePoint;
    std::size_t length;  // bytes consumed; for invalid input, the maximal invalid subpart
    bool valid;
};

Decoded decodeAt(std::string_view text, std::size_t pos) {
    const auto lead = static_cast<std::uint8_t>(text[pos]);
    if (lead < 0x80) return {lead, 1, true};

    int continuations = 0;
    char32_t codePoint = 0;
    // The allowed range of the first continuation byte excludes overlongs, surrogates and
    // values past U+10FFFF.
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        continuations = 1;
        codePoint = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        continuations = 2;
        codePoint = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        continuations = 3;
        codePoint = lead & 0x07;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return {0, 1, false};
    }

    std::size_t length = 1;
    for (int i = 0; i < continuations; ++i) {
        if (pos + length >= text.size()) return {0, length, false};
        const auto byte = static_cast<std::uint8_t>(text[pos + length]);
        if (byte < low || byte > high) return {0, length, false};
        codePoint = (codePoint << 6) | (byte & 0x3F);
        low = 0x80;
        high = 0xBF;
        ++length;
    }
    return {codePoint, length, true};
}

bool isSurrogate(char32_t c) {
    return c >= 0xD800 && c <= 0xDFFF;
}

}  // namespace

bool isValid(std::string_view text) {
    constexpr std::uint64_t kHighBits = 0x8080808080808080ull;
    for (std::size_t pos = 0; pos < text.size();) {
        // Plain ASCII, the bulk of most texts, eight bytes at a time.
        std::uint64_t word = 0;
        while (pos + sizeof word <= text.size() &&
               (std::memcpy(&word, text.data() + pos, sizeof word), (word & kHighBits) == 0)) {
            pos += sizeof word;
        }
        if (pos >= text.size()) break;
        const Decoded d = decodeAt(text, pos);
        if (!d.valid) return false;
        pos += d.length;
    }
    return true;
}

std::string sanitize(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        const Decoded d = decodeAt(text, pos);
        if (d.valid) {
            out.append(text.substr(pos, d.length));
        } else {
            append(out, kReplacement);
        }
        pos += d.length;
    }
    return out;
}

void append(std::string& out, char32_t c) {
    if (isSurrogate(c) || c > 0x10FFFF) c = kReplacement;
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

std::string fromUtf16(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char32_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            append(out, 0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else {
            append(out, unit);  // an unpaired surrogate turns into U+FFFD here
        }
    }
    return out;
}

std::u16string toUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        const Decoded d = decodeAt(text, pos);
        const char32_t c = d.valid ? d.codePoint : kReplacement;
        if (c >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
        pos += d.length;
    }
    return out;
}

}  // namespace foundation::utf8
