#include <gtest/gtest.h>

#include <set>

#include "data/helpers/NSStringHelpers.h"

namespace {

TEST(NSStringHelpersTest, CapacityStringPicksUnitByCountBeforeRounding) {
    const std::pair<std::uint64_t, const char*> cases[] = {
        {0, "0"},
        {1, "1 byte"},
        {1023, "1023 bytes"},
        {1024, "1.00 KB"},
        {1536, "1.50 KB"},
        {1048575, "1024.00 KB"},
        {1048576, "1.00 MB"},
        {1073741823, "1024.00 MB"},
        {1073741824, "1.00 GB"},
        {std::uint64_t{1} << 40, "1024.00 GB"},
        {UINT64_MAX, "17179869184.00 GB"},
    };
    for (const auto& [count, text] : cases) EXPECT_EQ(NSString::CapacityString(count), text);
}

TEST(NSStringHelpersTest, IsEmptyTreatsSpaceSeparatorsAndTabsAsBlank) {
    const std::pair<std::optional<std::string_view>, bool> cases[] = {
        {std::nullopt, true},
        {"", true},
        {" \t  \t", true},
        {"\xC2\xA0\xE3\x80\x80\xE2\x80\x89", true},  // no-break, ideographic and thin spaces
        {"\n", false},
        {" \r\n ", false},
        {"  x  ", false},
        {"\xE2\x80\x8B", false},  // zero-width space is a format character, not Zs
        {"\xC2", false},          // a broken byte is content
        {std::string_view("\0", 1), false},
    };
    for (const auto& [text, empty] : cases) {
        EXPECT_EQ(NSString::IsEmpty(text), empty) << (text ? std::string(*text) : "nil");
    }
}

TEST(NSStringHelpersTest, GuidsAreFreshUpperCaseRandomUuids) {
    std::set<std::string> seen;
    for (int i = 0; i < 100; ++i) {
        const std::string id = NSString::guid();
        ASSERT_EQ(id.size(), 36u);
        for (std::size_t at = 0; at < id.size(); ++at) {
            const bool dash = at == 8 || at == 13 || at == 18 || at == 23;
            EXPECT_TRUE(dash ? id[at] == '-' : std::isxdigit(id[at]) && !std::islower(id[at]))
                << id;
        }
        EXPECT_EQ(id[14], '4') << id;
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 100u);
}

TEST(NSStringHelpersTest, MimeTypesIgnoreCaseAndKnowTheWebTypes) {
    const std::pair<const char*, const char*> known[] = {
        {"js", "text/javascript"},
        {"JS", "text/javascript"},
        {"html", "text/html"},
        {"Css", "text/css"},
        {"svg", "image/svg+xml"},
        {"wasm", "application/wasm"},
        {"JPG", "image/jpeg"},
        {"m4r", "audio/mp4"},
        {"webmanifest", "application/manifest+json"},
    };
    for (const auto& [extension, type] : known) {
        EXPECT_EQ(NSString::MIMETypeForExtension(extension), type) << extension;
    }
    for (const char* unknown :
         {"", "qqq", ".js", "js ", "j", "webmanifestx", "htmlhtmlhtmlhtmlhtml"}) {
        EXPECT_FALSE(NSString::MIMETypeForExtension(unknown)) << unknown;
    }
}

}  // namespace
