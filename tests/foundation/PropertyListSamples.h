#pragma once

#include <plist/plist.h>

#include <limits>
#include <memory>
#include <span>
#include <string>

#include "foundation/Value.h"

namespace foundation::testing {

// Seconds from 1970 to 2001, as the property lists count.
inline constexpr double k2001 = 978307200.0;

// One of every kind that libplist 2.2 also keeps intact: integers within int64, dates from
// 1933 to 2069 to the microsecond, no control characters (its XML writer drops them).
// Dates hold whole seconds unless `fractionalDates`.
inline Value sharedSample(bool fractionalDates) {
    const double fraction = fractionalDates ? 0.25 : 0;
    Dictionary many;
    Array long_list;
    for (int i = 0; i < 40; ++i) {
        many.emplace("key " + std::to_string(i), i * 1000);
        long_list.push_back(Value(i % 2 == 0 ? Value("same") : Value(i)));
    }
    Data blob;
    for (int i = 0; i < 300; ++i) blob.push_back(static_cast<std::uint8_t>(i * 7));

    return Value::dict({
        {"int64 min", std::numeric_limits<std::int64_t>::min()},
        {"int64 max", std::numeric_limits<std::int64_t>::max()},
        {"minus one", -1},
        {"zero", 0},
        {"one", 1},
        {"byte edges", Value::list({255, 256, 65535, 65536, 4294967295LL, 4294967296LL})},
        {"true", true},
        {"false", false},
        {"real", 0.1},
        {"negative real", -1234.5e-10},
        {"huge real", 1.7976931348623157e308},
        {"ascii", "plain <&> \"text\" 'here'"},
        {"non-ascii", "h\xC3\xA9llo \xE2\x82\xAC \xF0\x9F\x98\x80"},
        {"\xC3\xBC"
         "ber key",
         "value"},
        {"", "empty key"},
        {"empty string", ""},
        {"data", blob},
        {"short data", Data{0, 1, 2}},
        {"empty data", Data{}},
        {"date 1969", Date{-1234567.0 - fraction}},
        {"date 1933", Date{k2001 - 2147483648.0 + fraction}},
        {"date 2001", Date{k2001}},
        {"date 2038", Date{2147483648.0 + fraction}},
        {"empty array", Value(Array{})},
        {"empty dict", Value(Dictionary{})},
        {"many", Value(std::move(many))},
        {"long list", Value(std::move(long_list))},
        {"nested", Value::list({Value::list({Value::dict({{"deep", Value::list({1})}})})})},
    });
}

// Owns a libplist node.
using NodePtr = std::unique_ptr<void, decltype(&plist_free)>;
inline NodePtr own(plist_t node) {
    return NodePtr(node, plist_free);
}

// libplist's own serialisations. Outputs must start zeroed: libplist 2.2 leaves them
// untouched when it fails.
inline std::string libplistBinary(plist_t node) {
    char* bytes = nullptr;
    std::uint32_t length = 0;
    plist_to_bin(node, &bytes, &length);
    std::string out = bytes ? std::string(bytes, length) : std::string();
    plist_to_bin_free(bytes);
    return out;
}

inline std::string libplistXml(plist_t node) {
    char* text = nullptr;
    std::uint32_t length = 0;
    plist_to_xml(node, &text, &length);
    std::string out = text ? std::string(text, length) : std::string();
    plist_to_xml_free(text);
    return out;
}

inline std::span<const std::uint8_t> bytesOf(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace foundation::testing
