#include "foundation/Value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <type_traits>

namespace foundation {
namespace {

TEST(ValueTest, CopiesAndMovesOfContainersAreIndependent) {
    Value original = Value::dict({{"list", Value::list({1, "two"})}, {"n", 3}});
    Value copy = original;
    copy.set("n", 4);
    Value inner = copy["list"];
    inner.append(3.5);
    copy.set("list", inner);
    EXPECT_EQ(original, Value::dict({{"list", Value::list({1, "two"})}, {"n", 3}}));
    EXPECT_EQ(copy["list"].size(), 3u);

    Value assigned;
    assigned = copy;
    assigned = assigned["list"];  // a value assigned one of its own elements
    EXPECT_EQ(assigned, Value::list({1, "two", 3.5}));

    Value moved = std::move(assigned);
    EXPECT_EQ(moved.size(), 3u);
    // NOLINTNEXTLINE(bugprone-use-after-move): the moved-from state must be safe to use.
    EXPECT_EQ(Value(assigned), Value(Array{}));
    assigned.append(7);
    EXPECT_EQ(assigned, Value::list({7}));
}

TEST(ValueTest, EqualityIsStrictAboutKinds) {
    const std::pair<Value, Value> different[] = {
        {Value(5), Value(5u)},        {Value(true), Value(1)},
        {Value(0), Value(false)},     {Value(1.0), Value(1)},
        {Value(), Value::null()},     {Value("a"), Value(Data{'a'})},
        {Value(Date{5}), Value(5.0)}, {Value::dict({{"a", 1}}), Value::dict({{"a", 1u}})},
    };
    for (const auto& [a, b] : different) EXPECT_NE(a, b);
    EXPECT_EQ(Value(std::nan("")), Value(std::nan("")));
    EXPECT_EQ(Value::dict({{"a", Value::list({Value::null()})}}),
              Value::dict({{"a", Value::list({Value::null()})}}));

    EXPECT_TRUE(Value(std::int8_t{-1}).int64());
    EXPECT_TRUE(Value(std::uint16_t{1}).uint64());
    EXPECT_TRUE(Value(std::size_t{1}).uint64());
    EXPECT_FALSE(Value(true).isNumber());
}

TEST(ValueTest, NumericReadingsSaturateAndTruncate) {
    constexpr auto i64max = std::numeric_limits<std::int64_t>::max();
    constexpr auto i64min = std::numeric_limits<std::int64_t>::min();
    constexpr auto u64max = std::numeric_limits<std::uint64_t>::max();

    EXPECT_EQ(Value(true).toInt64(), 1);
    EXPECT_EQ(Value(u64max).toInt64(), i64max);
    EXPECT_EQ(Value(-2.9).toInt64(), -2);
    EXPECT_EQ(Value(-1e300).toInt64(), i64min);
    EXPECT_EQ(Value(9223372036854775808.0).toInt64(), i64max);
    EXPECT_EQ(Value(std::nan("")).toInt64(), 0);

    EXPECT_EQ(Value(i64min).toUInt64(), 0u);
    EXPECT_EQ(Value(18446744073709551616.0).toUInt64(), u64max);
    EXPECT_EQ(Value(-0.5).toUInt64(), 0u);

    EXPECT_EQ(Value(u64max).toDouble(), 18446744073709551615.0);
    EXPECT_EQ(Value(0.0).toBool(), false);
    EXPECT_EQ(Value(2u).toBool(), true);

    EXPECT_FALSE(Value("5").toInt64());
    EXPECT_FALSE(Value().toDouble());
    EXPECT_FALSE(Value::null().toBool());
    EXPECT_FALSE(Value(Date{1}).toDouble());
}

TEST(ValueTest, LookupsGiveNilAndSetOrAppendNeverStoreNil) {
    const Value d = Value::dict({{"a", Value::null()}, {"b", 1}});
    EXPECT_TRUE(d["a"].isNull());
    EXPECT_TRUE(d["missing"].isNil());
    EXPECT_TRUE(d["a"]["deeper"].isNil());
    EXPECT_TRUE(d[std::size_t{0}].isNil());
    const Value list = Value::list({"x"});
    EXPECT_TRUE(list[1].isNil());
    EXPECT_TRUE(list["x"].isNil());
    EXPECT_EQ(Value(5).stringOr("none"), "none");
    EXPECT_EQ(list[0].stringOr("none"), "x");

    Value dict;
    dict.set("a", 1);
    dict.set("b", Value::null());
    dict.set("a", Value());
    EXPECT_EQ(dict, Value::dict({{"b", Value::null()}}));
    Value array;
    array.append(Value());
    EXPECT_TRUE(array.isArray());
    array.append(Value::null());
    EXPECT_EQ(array, Value::list({Value::null()}));
    Value text("x");
    text.set("a", 1);
    text.append(1);
    EXPECT_EQ(text, Value("x"));
    EXPECT_EQ(Value::dict({{"gone", Value()}, {"kept", 0}}).size(), 1u);
    EXPECT_EQ(Value::list({Value(), 1}).size(), 1u);
    EXPECT_EQ(Value(Array{Value(), Value()}).size(), 0u);
}

// Characters have no agreed number (char is signed on some machines, unsigned on others)
// and are not strings either: they are refused at compile time.
template <class... T>
constexpr bool noneConstructs = !(std::is_constructible_v<Value, T> || ...);
static_assert(noneConstructs<char, wchar_t, char8_t, char16_t, char32_t>);
static_assert(!noneConstructs<signed char> && !noneConstructs<std::uint8_t>);

// Arrays and dictionaries in turn, `depth` containers deep, built without recursion.
Value nested(std::size_t depth) {
    Value value = Value("bottom");
    for (std::size_t level = 0; level < depth; ++level) {
        Value outer = level % 2 ? Value(Dictionary{}) : Value(Array{});
        if (outer.isArray()) {
            outer.array()->push_back(std::move(value));
        } else {
            outer.dictionary()->emplace("k", std::move(value));
        }
        value = std::move(outer);
    }
    return value;
}

// The first non-container below `value`, following first elements, and how deep it lies.
template <class V>
std::pair<V*, std::size_t> bottomOf(V& value) {
    std::size_t depth = 0;
    V* at = &value;
    for (; at->isArray() || at->isDictionary(); ++depth) {
        at = at->isArray() ? &at->array()->front() : &at->dictionary()->begin()->second;
    }
    return {at, depth};
}

TEST(ValueTest, DeepValuesCopyCompareAndDestroyWithoutExhaustingTheStack) {
    {
        const Value deepest = nested(1'000'000);
        EXPECT_EQ(bottomOf(deepest).second, 1'000'000u);
    }  // destroyed here

    const Value original = nested(200'000);
    Value copy = original;
    auto [bottom, depth] = bottomOf(copy);
    ASSERT_EQ(depth, 200'000u);
    *bottom = Value("changed");
    EXPECT_EQ(*bottomOf(original).first, Value("bottom"));

    Value assigned = Value::list({1});
    assigned = copy;
    EXPECT_EQ(*bottomOf(assigned).first, Value("changed"));
    EXPECT_EQ(assigned, copy);
    EXPECT_NE(assigned, original);
}

}  // namespace
}  // namespace foundation
