#include <gtest/gtest.h>

#include <unicode/uloc.h>

#include <cmath>
#include "data/helpers/NSStringHelpers.h"
#include "foundation/AtomicFile.h"
#include "foundation/ScratchFolder.h"

namespace {

using foundation::Value;

TEST(NSStringOtherHelpersTest, TimesAsText) {
    const std::pair<std::int32_t, const char*> times[] = {
        {0, "0:00"},
        {999, "0:00"},
        {61999, "1:01"},
        {3599999, "59:59"},
        {3600000, "1:00:00"},
        {-61000, "-1:-1"},
        {INT32_MIN, "-596:-31:-23"},
    };
    for (const auto& [ms, text] : times) EXPECT_EQ(NSString::stringOfTime(ms), text) << ms;
    const std::pair<double, const char*> seconds[] = {
        {0, "00:00"},      {59.4, "00:59"},         {59.5, "01:00"},
        {3599.4, "59:59"}, {3600, "01:00:00"},      {36061, "10:01:01"},
        {-1.7, "00:-1"},   {1e300, "596523:14:07"}, {std::nan(""), "00:00:00"},
    };
    for (const auto& [s, text] : seconds) EXPECT_EQ(NSString::stringWithSeconds(s), text) << s;
}

TEST(NSStringOtherHelpersTest, TextConversions) {
    EXPECT_EQ(NSString::sha1("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(NSString::hexString("A\xC3\xA9"), "41c3a9");
    EXPECT_EQ(NSString::decodeHex("41C3a9"), "A\xC3\xA9");
    for (const char* bad : {"4", "4g", "c3", "zz"}) EXPECT_FALSE(NSString::decodeHex(bad)) << bad;
    EXPECT_EQ(NSString::safeFilename("a/b\\c?d%e*f|g\"h<i>j:k.txt"), "abcdefghijk.txt");
    EXPECT_TRUE(NSString::isEmpty(" \t"));
    EXPECT_FALSE(NSString::isEmpty("\n"));
}

TEST(NSStringOtherHelpersTest, RelativePaths) {
    struct Case {
        const char* text;
        const char* path;
        const char* relative;
    };
    const Case cases[] = {
        {"/Music/a.mp3", "/Music/list.m3u", "/a.mp3"},
        {"/x/Music/y/Music/z", "/Music/f", "/x/y/z"},
        {"/a.mp3", "/list.m3u", "a.mp3"},
        {"", "/list.m3u", ""},
        {"a/b", "file", "a/b"},
    };
    for (const auto& c : cases) EXPECT_EQ(NSString::relativePathTo(c.text, c.path), c.relative);
}

TEST(NSStringOtherHelpersTest, PiecesAndPaddingEnd) {
    using Pieces = std::vector<std::string>;
    EXPECT_EQ(NSString::stringArrayByLength("a\r\nb\r\n", 3), (Pieces{"a", "b", ""}));
    EXPECT_EQ(NSString::stringArrayByLength("a\nb\r", 3), (Pieces{"a\nb\r"}));
    EXPECT_EQ(NSString::stringArrayByLength("", 0), (Pieces{""}));
    struct Case {
        const char* text;
        std::size_t length;
        const char* pad;
        const char* padded;
    };
    const Case cases[] = {
        {"ab", 5, "-", "ab---"},
        {"ab", 6, "xy", "abxyxy"},
        {"ab", 2, "-", "ab"},
        {"line one\r\nline two", 12, ".", "line one...."},
        {"long first line\r\nx", 4, ".", "long"},
        {"\xC3\xA9", 2, "\xE2\x82\xAC", "\xC3\xA9\xE2\x82\xAC"},  // UTF-8 length 2: padded
        {"abc", 5, "", "abc"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NSString::stringByPaddingToLengthWithString(c.text, c.length, c.pad), c.padded)
            << c.text;
    }
}

TEST(NSStringOtherHelpersTest, InArrayByKeyPath) {
    const foundation::Array tracks = {
        Value::dict({{"info", Value::dict({{"title", "One"}})}}),
        Value::dict({{"info", Value::dict({{"title", 2}})}}),
        Value("One"),
    };
    EXPECT_TRUE(NSString::inArrayKeyPath("One", tracks, "info.title"));
    EXPECT_FALSE(NSString::inArrayKeyPath("2", tracks, "info.title"));
    EXPECT_FALSE(NSString::inArrayKeyPath("One", tracks, "info.name"));
    EXPECT_FALSE(NSString::inArrayKeyPath("One", {}, "info"));
}

TEST(NSStringOtherHelpersTest, IncrementedPathsNameNothingThatExists) {
    foundationtest::ScratchFolder folder;
    const std::string song = folder / "song.mp3";
    const std::string bare = folder / "README";
    EXPECT_EQ(NSString::incramentFilePathIfExists(std::nullopt), std::nullopt);
    EXPECT_EQ(NSString::incramentFilePathIfExists(song), song);
    for (const auto& existing : {song, folder / "song (1).mp3", bare}) {
        ASSERT_TRUE(foundation::writeFileAtomically(existing, foundation::Data{1}));
    }
    EXPECT_EQ(NSString::incramentFilePathIfExists(song), folder / "song (2).mp3");
    EXPECT_EQ(NSString::incramentFilePathIfExists(bare), folder / "README (1)");
}

TEST(NSStringOtherHelpersTest, DatesInTheUsersLocale) {
    UErrorCode status = U_ZERO_ERROR;
    uloc_setDefault("en_US", &status);
    setenv("TZ", "UTC", 1);
    tzset();
    EXPECT_EQ(NSString::stringOfDate(std::nullopt), "");
    const std::string text = NSString::stringOfDate(foundation::Date{1600000000});
    EXPECT_NE(text.find("Sep 13, 2020"), std::string::npos) << text;
}

}  // namespace

namespace {

TEST(NSStringOtherHelpersTest, ExtensionTypesAndDescriptionsFromTheMimeDatabase) {
    const struct {
        const char* extension;
        std::optional<std::string> type;
        std::optional<std::string> description;
    } cases[] = {
        {"png", "image/png", "PNG image"},
        {"JPG", "image/jpeg", "JPEG image"},
        {"mp3", "audio/mpeg", "MP3 audio"},
        {"qqqzz", "application/octet-stream", "unknown"},
        {"", std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NSString::UTITypeForExtension(c.extension), c.type) << c.extension;
        EXPECT_EQ(NSString::fullDescriptionForExtension(c.extension), c.description)
            << c.extension;
        EXPECT_EQ(NSString::descriptionForExtension(c.extension), c.description) << c.extension;
    }
}

TEST(NSStringOtherHelpersTest, TextSizesFollowFontAndWidth) {
    const std::string sentence = "The quick brown fox jumps over the lazy dog again and again.";
    const auto line = NSString::sizeWithFontWidth("Hello", "DejaVu Sans 12", 1000);
    EXPECT_GT(line.width, 20);
    EXPECT_LT(line.width, 60);
    EXPECT_GT(line.height, 12);
    EXPECT_LT(line.height, 20);

    const auto doubled = NSString::sizeWithFontWidth("Hello", "DejaVu Sans 24", 1000);
    EXPECT_NEAR(doubled.height / line.height, 2.0, 0.2);
    EXPECT_NEAR(doubled.width / line.width, 2.0, 0.2);

    const auto unbroken = NSString::sizeWithFontWidth(sentence, "DejaVu Sans 12", 0);
    EXPECT_EQ(unbroken.height, line.height);
    const auto wrapped = NSString::sizeWithFontWidth(sentence, "DejaVu Sans 12", 100);
    EXPECT_LE(wrapped.width, 100);
    EXPECT_GE(wrapped.height, 3 * line.height);
    // A word wider than the box is broken inside.
    const auto word = NSString::sizeWithFontWidth(std::string(40, 'W'), "DejaVu Sans 12", 50);
    EXPECT_LE(word.width, 50);
    EXPECT_GT(word.height, 5 * line.height);
}

}  // namespace
