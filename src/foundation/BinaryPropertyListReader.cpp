#include "foundation/BinaryPropertyListReader.h"

#include <fmt/format.h>

#include <bit>
#include <cstring>
#include <limits>

#include "foundation/PropertyListDate.h"
#include "foundation/Utf8.h"

namespace foundation::plist {

namespace {

constexpr std::size_t kHeaderSize = 8;
constexpr std::size_t kTrailerSize = 32;
// Objects may be shared, so a small file can describe a huge tree. Building more than this
// (in bytes of Values and their contents) is refused.
constexpr std::uint64_t kBaseBudget = 8ull << 20;
constexpr std::uint64_t kBudgetPerInputByte = 64;

}  // namespace

BinaryPropertyListReader::BinaryPropertyListReader(std::span<const std::uint8_t> bytes)
    : bytes_(bytes), budget_(kBaseBudget + kBudgetPerInputByte * bytes.size()) {}

std::optional<Value> BinaryPropertyListReader::read(std::string* error) {
    Value top;
    if (readTrailer() && readObject(trailer_.topObject, 0, top)) return top;
    if (error) *error = "binary property list: " + error_;
    return std::nullopt;
}

bool BinaryPropertyListReader::fail(std::string message) {
    error_ = std::move(message);
    return false;
}

bool BinaryPropertyListReader::failTooDeep() {
    return fail(fmt::format("more than {} nested containers", kMaxNestingDepth));
}

bool BinaryPropertyListReader::readTrailer() {
    if (bytes_.size() < kHeaderSize + 1 + kTrailerSize) return fail("file too short");
    if (std::memcmp(bytes_.data(), "bplist00", kHeaderSize) != 0) {
        return fail("unsupported version");
    }
    const std::size_t t = bytes_.size() - kTrailerSize;
    trailer_.offsetSize = bytes_[t + 6];
    trailer_.refSize = bytes_[t + 7];
    trailer_.objectCount = bigEndian(t + 8, 8);
    trailer_.topObject = bigEndian(t + 16, 8);
    trailer_.offsetTableStart = bigEndian(t + 24, 8);

    if (trailer_.offsetSize < 1 || trailer_.offsetSize > 8 || trailer_.refSize < 1 ||
        trailer_.refSize > 8) {
        return fail("bad offset or reference size");
    }
    if (trailer_.objectCount == 0 || trailer_.topObject >= trailer_.objectCount) {
        return fail("bad object count or top object");
    }
    if (trailer_.offsetTableStart <= kHeaderSize || trailer_.offsetTableStart > t) {
        return fail("offset table outside the file");
    }
    if (trailer_.objectCount > (t - trailer_.offsetTableStart) / trailer_.offsetSize) {
        return fail("offset table runs past its end");
    }
    inProgress_.assign(trailer_.objectCount, false);
    return true;
}

// Objects lie between the header and the offset table.
bool BinaryPropertyListReader::has(std::uint64_t pos, std::uint64_t length) const {
    const std::uint64_t end = trailer_.offsetTableStart;
    return pos >= kHeaderSize && pos <= end && length <= end - pos;
}

std::uint64_t BinaryPropertyListReader::bigEndian(std::uint64_t pos, unsigned width) const {
    std::uint64_t value = 0;
    for (unsigned i = 0; i < width; ++i) value = (value << 8) | bytes_[pos + i];
    return value;
}

bool BinaryPropertyListReader::spend(std::uint64_t cost) {
    if (cost > budget_) return fail("objects expand far beyond the file size");
    budget_ -= cost;
    return true;
}

bool BinaryPropertyListReader::objectOffset(std::uint64_t ref, std::uint64_t& offset) {
    if (ref >= trailer_.objectCount) return fail(fmt::format("reference {} out of range", ref));
    offset = bigEndian(trailer_.offsetTableStart + ref * trailer_.offsetSize, trailer_.offsetSize);
    if (!has(offset, 1)) return fail(fmt::format("object {} lies outside the file", ref));
    return true;
}

bool BinaryPropertyListReader::readLength(std::uint64_t& pos, unsigned info,
                                          std::uint64_t& length) {
    if (info != 0xF) {
        length = info;
        return true;
    }
    if (!has(pos, 1)) return fail("truncated length");
    const std::uint8_t marker = bytes_[pos];
    if ((marker >> 4) != 0x1 || (marker & 0xF) > 3) return fail("bad length marker");
    const unsigned width = 1u << (marker & 0xF);
    if (!has(pos + 1, width)) return fail("truncated length");
    length = bigEndian(pos + 1, width);
    if (length > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        return fail("negative length");
    }
    pos += 1 + width;
    return true;
}

bool BinaryPropertyListReader::readRefs(std::uint64_t pos, std::uint64_t count,
                                        std::vector<std::uint64_t>& refs) {
    if (!has(pos, 0) || count > (trailer_.offsetTableStart - pos) / trailer_.refSize) {
        return fail("references run past the objects");
    }
    refs.resize(count);
    for (std::uint64_t i = 0; i < count; ++i) {
        refs[i] = bigEndian(pos + i * trailer_.refSize, trailer_.refSize);
    }
    return true;
}

bool BinaryPropertyListReader::readInteger(std::uint64_t pos, unsigned sizeExponent, Value& out) {
    if (sizeExponent <= 3) {
        const unsigned width = 1u << sizeExponent;
        if (!has(pos, width)) return fail("truncated integer");
        const std::uint64_t bits = bigEndian(pos, width);
        // 1, 2 and 4 bytes are unsigned, 8 bytes two's complement.
        out = Value(static_cast<std::int64_t>(bits));
        return true;
    }
    if (sizeExponent == 4) {
        if (!has(pos, 16)) return fail("truncated integer");
        const std::uint64_t high = bigEndian(pos, 8);
        const std::uint64_t low = bigEndian(pos + 8, 8);
        const bool lowIsNegative = (low >> 63) != 0;
        if (high == 0) {
            out = lowIsNegative ? Value(low) : Value(static_cast<std::int64_t>(low));
            return true;
        }
        if (high == ~std::uint64_t{0} && lowIsNegative) {
            out = Value(static_cast<std::int64_t>(low));
            return true;
        }
        return fail("integer beyond 64 bits");
    }
    return fail("unsupported integer size");
}

bool BinaryPropertyListReader::readObject(std::uint64_t ref, std::size_t depth, Value& out) {
    std::uint64_t offset = 0;
    if (!objectOffset(ref, offset) || !spend(sizeof(Value))) return false;

    const std::uint8_t marker = bytes_[offset];
    const unsigned info = marker & 0xF;
    std::uint64_t pos = offset + 1;
    std::uint64_t length = 0;
    switch (marker >> 4) {
        case 0x0:
            if (marker != 0x08 && marker != 0x09) break;
            out = Value(marker == 0x09);
            return true;
        case 0x1:
            return readInteger(pos, info, out);
        case 0x2: {
            if (info == 2 && has(pos, 4)) {
                out = Value(static_cast<double>(
                    std::bit_cast<float>(static_cast<std::uint32_t>(bigEndian(pos, 4)))));
                return true;
            }
            if (info == 3 && has(pos, 8)) {
                out = Value(std::bit_cast<double>(bigEndian(pos, 8)));
                return true;
            }
            return fail("bad real");
        }
        case 0x3:
            if (marker != 0x33 || !has(pos, 8)) return fail("bad date");
            out = Value(Date{std::bit_cast<double>(bigEndian(pos, 8)) + kSecondsFrom1970To2001});
            return true;
        case 0x4:
        case 0x5: {
            if (!readLength(pos, info, length)) return false;
            if (!has(pos, length)) return fail("data or string runs past the objects");
            if (!spend(length)) return false;
            const auto* begin = bytes_.data() + pos;
            if ((marker >> 4) == 0x4) {
                out = Value(Data(begin, begin + length));
            } else {
                // Nominally ASCII; anything else is kept when it is UTF-8.
                out = Value(utf8::sanitize({reinterpret_cast<const char*>(begin), length}));
            }
            return true;
        }
        case 0x6: {
            if (!readLength(pos, info, length)) return false;
            if (length > trailer_.offsetTableStart / 2 || !has(pos, length * 2)) {
                return fail("string runs past the objects");
            }
            if (!spend(length * 2)) return false;
            std::u16string units(length, u'\0');
            for (std::uint64_t i = 0; i < length; ++i) {
                units[i] = static_cast<char16_t>(bigEndian(pos + 2 * i, 2));
            }
            out = Value(utf8::fromUtf16(units));
            return true;
        }
        case 0x8: {
            const unsigned width = info + 1;
            if (width > 8 || !has(pos, width)) return fail("bad UID");
            const std::uint64_t uid = bigEndian(pos, width);
            out = Value::dict(
                {{"CF$UID", uid >> 63 ? Value(uid) : Value(static_cast<std::int64_t>(uid))}});
            return true;
        }
        case 0xA:
            return readArray(ref, pos, info, depth, out);
        case 0xD:
            return readDictionary(ref, pos, info, depth, out);
        default:
            break;
    }
    return fail(fmt::format("unsupported object marker 0x{:02x}", marker));
}

bool BinaryPropertyListReader::readArray(std::uint64_t ref, std::uint64_t pos, unsigned info,
                                         std::size_t depth, Value& out) {
    if (depth >= kMaxNestingDepth) return failTooDeep();
    std::uint64_t count = 0;
    std::vector<std::uint64_t> refs;
    if (!readLength(pos, info, count) || !readRefs(pos, count, refs)) return false;
    if (inProgress_[ref]) return fail("reference cycle");
    inProgress_[ref] = true;
    Array items;
    items.reserve(refs.size());
    for (const std::uint64_t child : refs) {
        Value item;
        if (!readObject(child, depth + 1, item)) return false;
        items.push_back(std::move(item));
    }
    inProgress_[ref] = false;
    out = Value(std::move(items));
    return true;
}

bool BinaryPropertyListReader::readKey(std::uint64_t ref, std::string& key) {
    std::uint64_t offset = 0;
    if (!objectOffset(ref, offset)) return false;
    const unsigned type = bytes_[offset] >> 4;
    if (type != 0x5 && type != 0x6) return fail("dictionary key is not a string");
    Value value;
    if (!readObject(ref, 0, value)) return false;
    key = *value.string();
    return true;
}

bool BinaryPropertyListReader::readDictionary(std::uint64_t ref, std::uint64_t pos, unsigned info,
                                              std::size_t depth, Value& out) {
    if (depth >= kMaxNestingDepth) return failTooDeep();
    std::uint64_t count = 0;
    std::vector<std::uint64_t> refs;
    if (!readLength(pos, info, count) || !readRefs(pos, count * 2, refs)) return false;
    if (inProgress_[ref]) return fail("reference cycle");
    inProgress_[ref] = true;
    Dictionary entries;
    for (std::uint64_t i = 0; i < count; ++i) {
        std::string key;
        Value item;
        if (!readKey(refs[i], key) || !readObject(refs[count + i], depth + 1, item)) return false;
        entries.insert_or_assign(std::move(key), std::move(item));
    }
    inProgress_[ref] = false;
    out = Value(std::move(entries));
    return true;
}

}  // namespace foundation::plist
