#include "foundation/Json.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace foundation {
namespace {

constexpr auto kInt64Min = std::numeric_limits<std::int64_t>::min();
constexpr auto kInt64Max = std::numeric_limits<std::int64_t>::max();
constexpr auto kUInt64Max = std::numeric_limits<std::uint64_t>::max();

Value readOk(std::string_view text) {
    std::string error;
    auto value = json::read(text, &error);
    EXPECT_TRUE(value) << text << ": " << error;
    return value.value_or(Value());
}

TEST(JsonTest, RoundTripKeepsKindsAndExactIntegers) {
    const Value value = Value::dict({
        {"ints", Value::list({kInt64Min, kInt64Max, kUInt64Max, 0, 1})},
        {"bools", Value::list({true, false})},
        {"reals", Value::list({0.1, 2.0, 5e-324})},
        {"text", "h\xC3\xA9llo \xF0\x9F\x98\x80 \"quoted\" \\ \n\t\x01"},
        {"\xC3\xBC"
         "ber",
         "key"},
        {"null", Value::null()},
        {"empty", Value::list({Value(Array{}), Value(Dictionary{})})},
        {"nested", Value::list({Value::list({Value::null(), 1}), Value::dict({{"x", -1}})})},
    });
    for (const auto style : {json::Style::Compact, json::Style::Indented}) {
        const std::string text = json::write(value, style);
        EXPECT_EQ(readOk(text), value) << text;
    }
}

TEST(JsonTest, ReadsNumbersScalarsAndBadText) {
    EXPECT_EQ(readOk("[9223372036854775807, 9223372036854775808, 18446744073709551615, "
                     "-9223372036854775808, 18446744073709551616, 1.0, 1e2]"),
              Value::list({kInt64Max, std::uint64_t{1} << 63, kUInt64Max, kInt64Min,
                           18446744073709551616.0, 1.0, 100.0}));
    EXPECT_EQ(readOk(json::write(Value(7u))), Value(7));
    EXPECT_EQ(readOk("5"), Value(5));
    EXPECT_EQ(readOk("\"x\""), Value("x"));
    EXPECT_EQ(readOk(" null "), Value::null());
    EXPECT_EQ(readOk("true"), Value(true));
    EXPECT_EQ(readOk(R"({"a": 1, "a": 2})"), Value::dict({{"a", 2}}));
    // Invalid UTF-8 and unpaired surrogates become U+FFFD.
    EXPECT_EQ(readOk("{\"k\xC0\": [\"a\xFF\"], "
                     R"("\uD800": ["\ud800", "x\udc00y", "\ud83d\ude00", "\\ud800", "\"\uDBFF"]})"),
              Value::dict({{"k\xEF\xBF\xBD", Value::list({"a\xEF\xBF\xBD"})},
                           {"\xEF\xBF\xBD",
                            Value::list({"\xEF\xBF\xBD", "x\xEF\xBF\xBDy", "\xF0\x9F\x98\x80",
                                         "\\ud800", "\"\xEF\xBF\xBD"})}}));
}

TEST(JsonTest, WritesEveryKind) {
    const std::pair<Value, const char*> cases[] = {
        {Value(), "null"},
        {Value::dict({{"data", Data{0, 1, 2, 0xFF}}, {"date", Date{-1.5}}}),
         R"({"data":"AAEC/w==","date":-1.5})"},
        {Value::list({std::numeric_limits<double>::infinity(), std::nan("")}), "[null,null]"},
        {Value::dict({{"bad\xFFkey", "bad\xC0value"}, {"list", Value::list({"\xED\xA0\x80"})}}),
         "{\"bad\xEF\xBF\xBDkey\":\"bad\xEF\xBF\xBDvalue\","
         "\"list\":[\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"]}"},
    };
    for (const auto& [value, expected] : cases) EXPECT_EQ(json::write(value), expected);
}

TEST(JsonTest, FailuresGiveAMessageAndNestingIsBounded) {
    for (const char* bad : {"", "{", "[1,]", "{\"a\" 1}", "nul", "1 2", "{'a': 1}", "[\"\\x\"]",
                            "\"unterminated", "[1e99999]", "\xFF"}) {
        std::string error;
        EXPECT_FALSE(json::read(bad, &error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
    EXPECT_FALSE(json::read("{"));  // no error pointer

    const std::size_t depth = kMaxNestingDepth;
    EXPECT_TRUE(json::read(std::string(depth, '[') + std::string(depth, ']')));
    std::string error;
    EXPECT_FALSE(json::read(std::string(depth + 1, '[') + std::string(depth + 1, ']'), &error));
    EXPECT_NE(error.find("nest"), std::string::npos) << error;
    EXPECT_FALSE(json::read(std::string(1'000'000, '[')));  // deeper than any stack would take
}

TEST(JsonTest, WritingRefusesWhatTheReaderWouldRefuse) {
    // Built in code, one level past the reader's limit, and far past any stack.
    for (const std::size_t depth : {kMaxNestingDepth + 1, std::size_t{100'000}}) {
        Value value = Value(Array{});
        for (std::size_t i = 1; i < depth; ++i) {
            Array outer;
            outer.push_back(std::move(value));
            value = Value(std::move(outer));
        }
        std::string error;
        EXPECT_FALSE(json::tryWrite(value, json::Style::Compact, &error)) << depth;
        EXPECT_NE(error.find("nested"), std::string::npos) << error;
        EXPECT_EQ(json::write(value), "null");
    }
    Value deepest = Value::dict({});
    for (std::size_t i = 1; i < kMaxNestingDepth; ++i) deepest = Value::dict({{"k", deepest}});
    const auto text = json::tryWrite(deepest);
    ASSERT_TRUE(text);
    EXPECT_EQ(json::read(*text), deepest);
}

}  // namespace
}  // namespace foundation
