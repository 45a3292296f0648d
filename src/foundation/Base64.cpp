#include "foundation/Base64.h"

#include <array>
#include <bit>
#include <cstdint>
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

// The sextet of each character already in its place within a group of four (first
// character highest); a character outside the alphabet sets the top bit instead.
constexpr std::uint32_t kBadGroup = 0x80000000u;
constexpr std::array<std::array<std::uint32_t, 256>, 4> makeShiftedTables() {
    std::array<std::array<std::uint32_t, 256>, 4> tables{};
    for (std::size_t position = 0; position < 4; ++position) {
        for (std::size_t c = 0; c < 256; ++c) {
            const std::uint8_t sextet = kDecodeTable[c];
            tables[position][c] =
                sextet == kInvalid ? kBadGroup : std::uint32_t{sextet} << (18 - 6 * position);
        }
    }
    return tables;
}

constexpr auto kShifted = makeShiftedTables();

// The two characters for each 12 bits: half a group in one look-up.
constexpr std::array<std::array<char, 2>, 4096> makePairTable() {
    std::array<std::array<char, 2>, 4096> table{};
    for (std::size_t i = 0; i < table.size(); ++i)
        table[i] = {kAlphabet[i >> 6], kAlphabet[i & 0x3F]};
    return table;
}

constexpr auto kPairTable = makePairTable();

}  // namespace

char* encodeInto(char* o, std::span<const std::uint8_t> bytes) {
    std::size_t i = 0;
    // Six bytes (eight characters) a step from one eight-byte load, while eight can be read.
    for (; i + 8 <= bytes.size(); i += 6, o += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes.data() + i, sizeof word);
        if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
        std::memcpy(o, kPairTable[(word >> 52) & 0xFFF].data(), 2);
        std::memcpy(o + 2, kPairTable[(word >> 40) & 0xFFF].data(), 2);
        std::memcpy(o + 4, kPairTable[(word >> 28) & 0xFFF].data(), 2);
        std::memcpy(o + 6, kPairTable[(word >> 16) & 0xFFF].data(), 2);
    }
    for (; i + 3 <= bytes.size(); i += 3, o += 4) {
        const std::uint32_t group = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
        std::memcpy(o, kPairTable[group >> 12].data(), 2);
        std::memcpy(o + 2, kPairTable[group & 0xFFF].data(), 2);
    }
    const std::size_t rest = bytes.size() - i;
    if (rest > 0) {
        const std::uint32_t group = (bytes[i] << 16) | (rest == 2 ? bytes[i + 1] << 8 : 0);
        o[0] = kAlphabet[(group >> 18) & 0x3F];
        o[1] = kAlphabet[(group >> 12) & 0x3F];
        o[2] = rest == 2 ? kAlphabet[(group >> 6) & 0x3F] : '=';
        o[3] = '=';
        o += 4;
    }
    return o;
}

void appendEncoded(std::string& out, std::span<const std::uint8_t> bytes) {
    const std::size_t start = out.size();
    out.resize(start + encodedLength(bytes.size()));
    encodeInto(out.data() + start, bytes);
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

std::optional<Data> decodeIgnoringWhitespace(std::string_view text, Whitespace* seen) {
    Data out(text.size() / 4 * 3 + 3);
    std::size_t written = 0;
    std::uint32_t group = 0;
    int sextets = 0;
    int padding = 0;
    Whitespace whitespace;
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    const auto* const end = in + text.size();
    while (in < end) {
        // Whole groups between line breaks go four characters at a time, each group stored
        // as four bytes of which the next group overwrites the last (the output has room).
        if (sextets == 0 && padding == 0) {
            while (end - in >= 4) {
                const std::uint32_t whole = kShifted[0][in[0]] | kShifted[1][in[1]] |
                                            kShifted[2][in[2]] | kShifted[3][in[3]];
                if (whole & kBadGroup) break;
                const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(whole >> 16),
                                               static_cast<std::uint8_t>(whole >> 8),
                                               static_cast<std::uint8_t>(whole), 0};
                std::memcpy(out.data() + written, bytes, 4);
                written += 3;
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
        } else if (c == '\n') {
            ++whitespace.lineBreaks;
        } else if (c == '\r') {
            whitespace.carriageReturn = true;
        } else if (c != ' ' && c != '\t') {
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
    if (seen) *seen = whitespace;
    return out;
}

}  // namespace foundation::base64
