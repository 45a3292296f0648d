#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "foundation/Value.h"

namespace foundation::plist {

// Reads the "bplist00" form. Every offset, length, count and reference is checked against
// the buffer; reference cycles, nesting deeper than kMaxNestingDepth and files whose shared
// objects would expand far beyond their size are refused.
class BinaryPropertyListReader {
public:
    explicit BinaryPropertyListReader(std::span<const std::uint8_t> bytes);

    std::optional<Value> read(std::string* error);

private:
    struct Trailer {
        unsigned offsetSize = 0;
        unsigned refSize = 0;
        std::uint64_t objectCount = 0;
        std::uint64_t topObject = 0;
        std::uint64_t offsetTableStart = 0;
    };

    bool readTrailer();
    bool readObject(std::uint64_t ref, std::size_t depth, Value& out);
    bool readInteger(std::uint64_t pos, unsigned sizeExponent, Value& out);
    bool readLength(std::uint64_t& pos, unsigned info, std::uint64_t& length);
    bool readRefs(std::uint64_t pos, std::uint64_t count, std::vector<std::uint64_t>& refs);
    bool readArray(std::uint64_t ref, std::uint64_t pos, unsigned info, std::size_t depth,
                   Value& out);
    bool readDictionary(std::uint64_t ref, std::uint64_t pos, unsigned info, std::size_t depth,
                        Value& out);
    bool readKey(std::uint64_t ref, std::string& key);
    bool objectOffset(std::uint64_t ref, std::uint64_t& offset);
    bool has(std::uint64_t pos, std::uint64_t length) const;
    std::uint64_t bigEndian(std::uint64_t pos, unsigned width) const;
    bool spend(std::uint64_t cost);
    bool fail(std::string message);
    bool failTooDeep();

    std::span<const std::uint8_t> bytes_;
    Trailer trailer_;
    std::vector<bool> inProgress_;  // containers on the current path, to catch cycles
    std::uint64_t budget_ = 0;      // bytes of Values still allowed to be built
    std::string error_;
};

}  // namespace foundation::plist
