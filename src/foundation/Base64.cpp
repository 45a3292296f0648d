#include "foundation/Base64.h"

#include <array>
#include <cstring>

namespace foundation::base64 {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::uint8_t kInvalid = 0xFF;

constexpr std::array<std::uint8_t, 256> makeDecodeTable() {
    std::array<std::uint8_t, 256> table{};
    table.fill(kInvalid);
    for (std::uint8_t i = 0; i < 64; ++i) table[static_cast<unsigned char>(kAlphabet[i])] = i;
    return table;
}

constexpr auto kDecodeTable = makeDecodeTable();

// The two characters for each 12 bits: half a group in one look-up.
constexpr std::array<std::array<char, 2>, 4096> makePairTable() {
    std::array<std::array<char, 2>, 4096> table{};
    for (std::size_t i = 0; i < table.size(); ++i)
        table[i] = {kAlphabet[i >> 6], kAlphabet[i & 0x3F]};
    return table;
}

constexpr auto kPairTable = makePairTable();

}  // namespace

void appendEncoded(std::string& out, std::span<const std::uint8_t> bytes) {
    const std::size_t start = out.size();
    out.resize(start + (bytes.size() + 2) / 3 * 4, '=');
    char* o = out.data() + start;
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3, o += 4) {
        const std::uint32_t group = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
        std::memcpy(o, kPairTable[group >> 12].data(), 2);
        std::memcpy(o + 2, kPairTable[group & 0xFFF].data(), 2);
    }
    // The padded last group keeps the '=' it was filled with.
    const std::size_t rest = bytes.size() - i;
    if (rest > 0) {
        const std::uint32_t group = (bytes[i] << 16) | (rest == 2 ? bytes[i + 1] << 8 : 0);
        o[0] = kAlphabet[(group >> 18) & 0x3F];
        o[1] = kAlphabet[(group >> 12) & 0x3F];
        if (rest == 2) o[2] = kAlphabet[(group >> 6) & 0x3F];
    }
}

std::string encode(std::span<const std::uint8_t> bytes) {
    std::string out;
    appendEncoded(out, bytes);
    return out;
}

std::optional<Data> decode(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::size_t padding = 0;
    if (!text.empty() && text.back() == '=')
        padding = text.size() >= 2 && text[text.size() - 2] == '=' ? 2 : 1;

    Data out(text.size() / 4 * 3);
    std::size_t written = 0;
    const std::size_t fullGroups = (text.size() - padding) / 4;
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    for (std::size_t g = 0; g < fullGroups; ++g, in += 4) {
        const std::uint32_t a = kDecodeTable[in[0]], b = kDecodeTable[in[1]],
                            c = kDecodeTable[in[2]], d = kDecodeTable[in[3]];
        // An invalid character (also '=' before the end) has the high bit set.
        if ((a | b | c | d) & 0x80) return std::nullopt;
        const std::uint32_t group = (a << 18) | (b << 12) | (c << 6) | d;
        out[written++] = static_cast<std::uint8_t>(group >> 16);
        out[written++] = static_cast<std::uint8_t>(group >> 8);
        out[written++] = static_cast<std::uint8_t>(group);
    }
    // The last group when it is padded: two or three sextets.
    const std::size_t rest = (text.size() - padding) % 4;
    if (rest == 1) return std::nullopt;
    if (rest > 1) {
        std::uint32_t group = 0;
        for (std::size_t i = 0; i < rest; ++i) {
            const std::uint8_t sextet = kDecodeTable[in[i]];
            if (sextet == kInvalid) return std::nullopt;
            group |= static_cast<std::uint32_t>(sextet) << (18 - 6 * i);
        }
        out[written++] = static_cast<std::uint8_t>(group >> 16);
        if (rest == 3) out[written++] = static_cast<std::uint8_t>(group >> 8);
    }
    out.resize(written);
    return out;
}

std::optional<Data> decodeIgnoringWhitespace(std::string_view text) {
    Data out(text.size() / 4 * 3 + 3);
    std::size_t written = 0;
    std::uint32_t group = 0;
    int sextets = 0;
    int padding = 0;
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    const auto* const end = in + text.size();
    while (in < end) {
        // Whole groups between line breaks go four characters at a time.
        if (sextets == 0 && padding == 0) {
            while (end - in >= 4) {
                const std::uint32_t a = kDecodeTable[in[0]], b = kDecodeTable[in[1]],
                                    c = kDecodeTable[in[2]], d = kDecodeTable[in[3]];
                if ((a | b | c | d) & 0x80) break;
                const std::uint32_t whole = (a << 18) | (b << 12) | (c << 6) | d;
                out[written++] = static_cast<std::uint8_t>(whole >> 16);
                out[written++] = static_cast<std::uint8_t>(whole >> 8);
                out[written++] = static_cast<std::uint8_t>(whole);
                in += 4;
            }
            if (in == end) break;
        }
        const unsigned char c = *in++;
        const std::uint8_t sextet = kDecodeTable[c];
        if (sextet != kInvalid) {
            if (padding) return std::nullopt;  // nothing but padding after the first '='
            group = (group << 6) | sextet;
            if (++sextets == 4) {
                out[written++] = static_cast<std::uint8_t>(group >> 16);
                out[written++] = static_cast<std::uint8_t>(group >> 8);
                out[written++] = static_cast<std::uint8_t>(group);
                sextets = 0;
                group = 0;
            }
        } else if (c == '=') {
            if (++padding > 2) return std::nullopt;
        } else if (c != ' ' && c != '\t' && c != '\r' && c != '\n') {
            return std::nullopt;
        }
    }
    if (padding) {
        // "xx==" or "xxx=": the padded last group.
        if (sextets + padding != 4 || sextets < 2) return std::nullopt;
        group <<= 6 * padding;
        out[written++] = static_cast<std::uint8_t>(group >> 16);
        if (sextets == 3) out[written++] = static_cast<std::uint8_t>(group >> 8);
    } else if (sextets != 0) {
        return std::nullopt;
    }
    out.resize(written);
    return out;
}

}  // namespace foundation::base64
