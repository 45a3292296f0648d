#include <gtest/gtest.h>

#include "data/helpers/NSURLQueryParameters.h"

namespace {

using Parameters = std::map<std::string, std::string>;

foundation::Url url(const char* text) {
    auto parsed = foundation::Url::parse(text);
    EXPECT_TRUE(parsed) << text;
    return parsed.value_or(foundation::Url{});
}

TEST(NSURLQueryParametersTest, ItemsWithValuesLastOneWinning) {
    const std::pair<const char*, Parameters> cases[] = {
        {"myapp://h/p?a=1&b&c=&a=2", {{"a", "2"}, {"c", ""}}},
        {"myapp://h/p", {}},
        {"myapp://h/p?", {}},
        {"myapp://h/p?&&x=1&", {{"x", "1"}}},
        {"myapp://h/p?q=a+b%2Bc%20d", {{"q", "a+b+c d"}}},
        {"myapp://h/p?k%3D=v=w", {{"k=", "v=w"}}},
        {"myapp://h/p?=v", {{"", "v"}}},
        {"myapp://h/p?t=%E2%82%AC#frag=1", {{"t", "\xE2\x82\xAC"}}},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(NSURL::queryParameters(url(text)), expected) << text;
    }
}

TEST(NSURLQueryParametersTest, ValueForParameterTakesTheFirstItem) {
    const auto u = url("http://h/?a=1&b&c=&a=2");
    EXPECT_EQ(NSURL::valueForParameter(u, "a"), "1");
    EXPECT_EQ(NSURL::valueForParameter(u, "b"), std::nullopt);
    EXPECT_EQ(NSURL::valueForParameter(u, "c"), "");
    EXPECT_EQ(NSURL::valueForParameter(u, "d"), std::nullopt);
}

}  // namespace
