#pragma once

// Little-endian record building for the database fixtures the tests write themselves.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mediatest {

using Bytes = std::vector<std::uint8_t>;

inline void put(Bytes& out, std::size_t offset, std::uint64_t value, int width) {
    if (out.size() < offset + width) out.resize(offset + width);
    for (int i = 0; i < width; ++i) out[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}
inline void put32(Bytes& out, std::size_t offset, std::uint32_t value) {
    put(out, offset, value, 4);
}
inline void put16(Bytes& out, std::size_t offset, std::uint16_t value) {
    put(out, offset, value, 2);
}

// A header of `headerLength` bytes with the tag and the header length filled in.
inline Bytes header(std::string_view tag, std::uint32_t headerLength) {
    Bytes out(headerLength, 0);
    for (std::size_t i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(tag[i]);
    put32(out, 4, headerLength);
    return out;
}

inline void append(Bytes& out, const Bytes& more) {
    out.insert(out.end(), more.begin(), more.end());
}

// A header followed by its children, with the total length at offset 8 covering both.
inline Bytes withTotal(Bytes head, const Bytes& children) {
    append(head, children);
    put32(head, 8, static_cast<std::uint32_t>(head.size()));
    return head;
}

// A data set of the given type holding `content`, mostly a list.
inline Bytes dataSet(std::uint32_t type, const Bytes& content) {
    Bytes head = header("mhsd", 96);
    put32(head, 12, type);
    return withTotal(head, content);
}

// A list header with its entry count, followed by the entries (which it does not cover).
inline Bytes list(std::string_view tag, std::uint32_t count, const Bytes& entries) {
    Bytes head = header(tag, 92);
    put32(head, 8, count);
    append(head, entries);
    return head;
}

// A data set holding one list of `entries`.
inline Bytes listSet(std::uint32_t type, std::string_view tag, std::size_t count,
                     const Bytes& entries) {
    return dataSet(type, list(tag, static_cast<std::uint32_t>(count), entries));
}

// A file header with the tag and header length, its set count and the sets after it.
inline Bytes fileOf(std::string_view tag, std::uint32_t headerLength, std::uint32_t setCount,
                    const Bytes& sets) {
    Bytes head = header(tag, headerLength);
    put32(head, 20, setCount);
    return withTotal(head, sets);
}

inline Bytes utf16le(std::u16string_view text) {
    Bytes out;
    for (char16_t unit : text) {
        out.push_back(static_cast<std::uint8_t>(unit));
        out.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    return out;
}

inline std::uint32_t get32(const Bytes& in, std::size_t offset) {
    return in[offset] | (in[offset + 1] << 8) | (in[offset + 2] << 16) |
           (static_cast<std::uint32_t>(in[offset + 3]) << 24);
}

// A deterministic generator for mutation runs.
struct SplitMix {
    std::uint64_t state;
    std::uint64_t next() {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
};

// Flips, overwrites with extreme 32-bit values, or cuts the bytes at random places.
inline Bytes mutate(Bytes bytes, SplitMix& random) {
    if (bytes.empty()) return bytes;
    const int edits = 1 + static_cast<int>(random.next() % 4);
    for (int e = 0; e < edits; ++e) {
        const std::size_t at = random.next() % bytes.size();
        switch (random.next() % 4) {
            case 0:
                bytes[at] ^= static_cast<std::uint8_t>(1u << (random.next() % 8));
                break;
            case 1:
                bytes[at] = static_cast<std::uint8_t>(random.next());
                break;
            case 2: {
                static const std::uint32_t extremes[] = {0,          1,      0x7FFFFFFF, 0x80000000,
                                                         0xFFFFFFFF, 0xFFFF, 12};
                const std::uint32_t value = extremes[random.next() % std::size(extremes)];
                if (at + 4 <= bytes.size()) put32(bytes, at, value);
                break;
            }
            default:
                bytes.resize(at);
                if (bytes.empty()) return bytes;
                break;
        }
    }
    return bytes;
}

// Reads every prefix of `good`, then `mutations` random mutations of it from `seed`;
// `read` is told whether the bytes are a prefix (a cut file).
template <typename Read>
void readEveryCutAndMutation(const Bytes& good, std::uint64_t seed, Read read,
                             int mutations = 10000) {
    for (std::size_t cut = 0; cut < good.size(); ++cut) {
        read(Bytes(good.begin(), good.begin() + cut), true);
    }
    SplitMix random{seed};
    for (int i = 0; i < mutations; ++i) read(mutate(good, random), false);
}

}  // namespace mediatest
