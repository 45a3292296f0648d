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
        {"min", kInt64Min},
        {"max", kInt64Max},
        {"umax", kUInt64Max},
        {"true", true},
        {"false", false},
        {"zero", 0},
        {"one", 1},
        {"real", 0.1},
        {"whole real", 2.0},
        {"tiny", 5e-324},
        {"text", "h\xC3\xA9llo \xF0\x9F\x98\x80 \"quoted\" \\ \n\t\x01"},
        {"\xC3\xBC"
         "ber",
         "key"},
        {"null", Value::null()},
        {"empty list", Value(Array{})},
        {"empty dict", Value(Dictionary{})},
        {"nested", Value::list({Value::list({Value::null(), 1}), Value::dict({{"x", -1}})})},
    });
    for (const auto style : {json::Style::Compact, json::Style::Indented}) {
        const std::string text = json::write(value, style);
        EXPECT_EQ(readOk(text), value) << text;
    }
}

TEST(JsonTest, NullInsideIsKeptApartFromAMissingKey) {
    const Value value = readOk(R"({"present": null})");
    EXPECT_TRUE(value["present"].isNull());
    EXPECT_TRUE(value["absent"].isNil());
    EXPECT_EQ(json::write(value), R"({"present":null})");
}

TEST(JsonTest, IntegersReadSignedWhereTheyFit) {
    EXPECT_EQ(readOk("9223372036854775807"), Value(kInt64Max));
    EXPECT_EQ(readOk("9223372036854775808"), Value(std::uint64_t{9223372036854775808u}));
    EXPECT_EQ(readOk("18446744073709551615"), Value(kUInt64Max));
    EXPECT_EQ(readOk("-9223372036854775808"), Value(kInt64Min));
    EXPECT_EQ(readOk("0"), Value(0));
    EXPECT_EQ(readOk(json::write(Value(7u))), Value(7));
    EXPECT_EQ(readOk("1.0"), Value(1.0));
    EXPECT_EQ(readOk("1e2"), Value(100.0));
    // Past uint64 the number can only be a double.
    EXPECT_TRUE(readOk("18446744073709551616").real());
}

TEST(JsonTest, BareScalarsAtTheTop) {
    EXPECT_EQ(readOk("5"), Value(5));
    EXPECT_EQ(readOk("\"x\""), Value("x"));
    EXPECT_EQ(readOk(" null "), Value::null());
    EXPECT_EQ(readOk("true"), Value(true));
    EXPECT_EQ(json::write(Value()), "null");
    EXPECT_EQ(json::write(Value::null()), "null");
    EXPECT_EQ(json::write(Value(false)), "false");
    EXPECT_EQ(json::write(Value(kUInt64Max)), "18446744073709551615");
}

TEST(JsonTest, DataAndDatesHaveJsonForms) {
    const Value value = Value::dict({{"data", Data{0, 1, 2, 0xFF}}, {"date", Date{-1.5}}});
    EXPECT_EQ(json::write(value), R"({"data":"AAEC/w==","date":-1.5})");
}

TEST(JsonTest, IndentedUsesTwoSpaces) {
    EXPECT_EQ(json::write(Value::dict({{"a", Value::list({1})}}), json::Style::Indented),
              "{\n  \"a\": [\n    1\n  ]\n}");
}

TEST(JsonTest, NonFiniteNumbersWriteAsNull) {
    EXPECT_EQ(json::write(Value::list({std::numeric_limits<double>::infinity(), std::nan("")})),
              "[null,null]");
}

TEST(JsonTest, WriteReplacesInvalidUtf8InStringsAndKeys) {
    Value value;
    value.set("bad\xFFkey", "bad\xC0value");
    value.set("list", Value::list({"\xED\xA0\x80"}));
    const std::string text = json::write(value);
    EXPECT_EQ(text,
              "{\"bad\xEF\xBF\xBDkey\":\"bad\xEF\xBF\xBDvalue\","
              "\"list\":[\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"]}");
}

TEST(JsonTest, ReadReplacesInvalidUtf8AndUnpairedSurrogates) {
    EXPECT_EQ(readOk("[\"a\xFF\"]"), Value::list({"a\xEF\xBF\xBD"}));
    EXPECT_EQ(readOk("{\"k\xC0\": 1}"), Value::dict({{"k\xEF\xBF\xBD", 1}}));
    EXPECT_EQ(readOk(R"(["\ud800", "x\udc00y", "\ud83d\ude00", "\\ud800"])"),
              Value::list({"\xEF\xBF\xBD", "x\xEF\xBF\xBDy", "\xF0\x9F\x98\x80", "\\ud800"}));
    EXPECT_EQ(readOk(R"({"\uD800": "\"\uDBFF"})"),
              Value::dict({{"\xEF\xBF\xBD", "\"\xEF\xBF\xBD"}}));
}

TEST(JsonTest, ParseFailuresGiveAMessageNotAnException) {
    for (const char* bad : {"", "{", "[1,]", "{\"a\" 1}", "nul", "1 2", "{'a': 1}", "[\"\\x\"]",
                            "\"unterminated", "[1e99999]", "\xFF"}) {
        std::string error;
        EXPECT_FALSE(json::read(bad, &error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
    EXPECT_FALSE(json::read("{"));  // no error pointer
}

TEST(JsonTest, NestingIsBounded) {
    const std::size_t depth = kMaxNestingDepth;
    const std::string deepest = std::string(depth, '[') + std::string(depth, ']');
    EXPECT_TRUE(json::read(deepest));

    std::string error;
    const std::string tooDeep = std::string(depth + 1, '[') + std::string(depth + 1, ']');
    EXPECT_FALSE(json::read(tooDeep, &error));
    EXPECT_NE(error.find("nest"), std::string::npos) << error;
    // Far deeper than any stack would take, and unbalanced too.
    EXPECT_FALSE(json::read(std::string(1'000'000, '[')));
}

TEST(JsonTest, DuplicateKeysKeepTheLast) {
    EXPECT_EQ(readOk(R"({"a": 1, "a": 2})"), Value::dict({{"a", 2}}));
}

}  // namespace
}  // namespace foundation
