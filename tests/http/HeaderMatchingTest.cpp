#include <gtest/gtest.h>

#include <string>

#include "http/NetHeaderMatching.h"

// Header names match in any letter case of ASCII, and only of ASCII; a repeated header's
// values are joined in the order they came.
TEST(HeaderMatching, NamesMatchInAnyCaseAndRepeatedValuesAreJoinedInOrder) {
    EXPECT_TRUE(NetHeaderMatching::same("Content-Length", "CONTENT-length"));
    EXPECT_FALSE(NetHeaderMatching::same("Content-Length", "Content-Lengt"));
    EXPECT_FALSE(NetHeaderMatching::same("X-\xC3\x89t\xC3\xA9", "X-\xC3\xA9t\xC3\xA9"));
    EXPECT_FALSE(NetHeaderMatching::same("X-[", "X-{"));

    const NetHeaderMatching::Headers headers = {{"Cache-Control", "no-cache"},
                                                {"Content-Type", "text/plain"},
                                                {"cache-control", "private"},
                                                {"CACHE-CONTROL", ""}};
    EXPECT_EQ(NetHeaderMatching::joined(headers, "Cache-Control"), "no-cache, private, ");
    EXPECT_EQ(NetHeaderMatching::joined(headers, "content-type"), "text/plain");
    EXPECT_EQ(NetHeaderMatching::joined(headers, "Content-Length"), std::nullopt);
}
