#pragma once

#include <gtest/gtest.h>
#include <plist/plist.h>

#include <limits>
#include <memory>
#include <span>
#include <string>

#include "foundation/PropertyList.h"

namespace foundation::testing {

// Seconds from 1970 to 2001, as the property lists count.
inline constexpr double k2001 = 978307200.0;

// One of every kind that libplist 2.2 also keeps intact: integers within int64, dates from
// 1933 to 2069 to the microsecond, no control characters (its XML writer drops them).
inline Value sharedSample(bool fractionalDates) {
    const double fraction = fractionalDates ? 0.25 : 0;
    Dictionary many;
    Array longList;
    for (int i = 0; i < 40; ++i) {
        many.emplace("key " + std::to_string(i), i * 1000);
        longList.push_back(i % 2 == 0 ? Value("same") : Value(i));
    }
    Data blob;
    for (int i = 0; i < 300; ++i) blob.push_back(static_cast<std::uint8_t>(i * 7));
    return Value::dict({
        {"int64 min", std::numeric_limits<std::int64_t>::min()},
        {"int64 max", std::numeric_limits<std::int64_t>::max()},
        {"small ints", Value::list({-1, 0, 1, 255, 256, 65535, 65536, 4294967295LL, 4294967296LL})},
        {"true", true},
        {"false", false},
        {"reals", Value::list({0.1, -1234.5e-10, 1.7976931348623157e308})},
        {"ascii", "plain <&> \"text\" 'here'"},
        {"non-ascii", "h\xC3\xA9llo \xE2\x82\xAC \xF0\x9F\x98\x80"},
        {"\xC3\xBC"
         "ber key",
         "value"},
        {"", ""},
        {"data", blob},
        {"empty data", Data{}},
        {"dates", Value::list({Date{-1234567.0 - fraction}, Date{k2001 - 2147483648.0 + fraction},
                               Date{k2001}, Date{2147483648.0 + fraction}})},
        {"empty containers", Value::list({Value(Array{}), Value(Dictionary{})})},
        {"many", Value(std::move(many))},
        {"long list", Value(std::move(longList))},
        {"nested", Value::list({Value::list({Value::dict({{"deep", Value::list({1})}})})})},
    });
}

using NodePtr = std::unique_ptr<void, decltype(&plist_free)>;
inline NodePtr own(plist_t node) {
    return NodePtr(node, plist_free);
}

// libplist's own binary or XML form. The output starts zeroed: libplist 2.2 leaves it alone
// when it fails.
inline std::string libplistOutput(plist_t node, plist::Format format) {
    const bool binary = format == plist::Format::Binary;
    char* bytes = nullptr;
    std::uint32_t length = 0;
    binary ? plist_to_bin(node, &bytes, &length) : plist_to_xml(node, &bytes, &length);
    std::string out = bytes ? std::string(bytes, length) : std::string();
    binary ? plist_to_bin_free(bytes) : plist_to_xml_free(bytes);
    return out;
}

// What `bytes` hold; they must read, and in the given form.
inline Value readOk(std::string_view bytes, plist::Format expected) {
    std::string error;
    plist::Format format{};
    auto value = plist::read(bytes, &error, &format);
    EXPECT_TRUE(value) << error;
    EXPECT_EQ(format, expected);
    return value.value_or(Value());
}

// The error for a text that must not read.
inline std::string failure(std::string_view text) {
    std::string error;
    EXPECT_FALSE(plist::read(text, &error)) << text;
    EXPECT_FALSE(error.empty()) << text;
    return error;
}

}  // namespace foundation::testing
