#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Value.h"

namespace foundation::plist {

// Writes the "bplist00" form. Equal scalars are stored once; UInt64 values above INT64_MAX
// take the 16-byte integer form, so that readers see them unsigned.
class BinaryPropertyListWriter {
public:
    std::optional<Data> write(const Value& value, std::string* error);

private:
    struct Object {
        Data encoded;                      // a scalar's complete encoding
        std::uint8_t containerMarker = 0;  // 0xA0 (array) or 0xD0 (dictionary), 0 for scalars
        std::uint64_t count = 0;
        std::vector<std::uint64_t> refs;  // for dictionaries the keys, then the values
    };

    std::uint64_t add(const Value& value);
    std::uint64_t addScalar(Data encoded);
    Data serialize() const;

    std::vector<Object> objects_;
    std::map<Data, std::uint64_t> scalarRefs_;
};

}  // namespace foundation::plist
