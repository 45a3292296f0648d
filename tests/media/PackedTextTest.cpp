#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/Utf8.h"
#include "media/PackedText.h"
#include "media/iTunesDBReader.h"

namespace {

using media::PackedText;

std::vector<std::uint8_t> utf16LE(std::u16string_view text) {
    std::vector<std::uint8_t> bytes;
    for (char16_t unit : text) {
        bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    return bytes;
}

// Texts that put the non-ASCII units at every position of the four-unit ASCII steps, and
// end on each kind of unit.
std::vector<std::u16string> mixedTexts() {
    const std::u16string pieces[] = {u"é", u"日本", u"\U0001F3B5", u"\u007F", u"\u0080",
                                     u"\u07FF", u"\u0800", u"\uFFFF", std::u16string(1, 0)};
    std::vector<std::u16string> texts;
    for (const auto& piece : pieces) {
        for (std::size_t lead = 0; lead <= 9; ++lead) {
            texts.push_back(std::u16string(lead, u'a') + piece + u"Track 12.mp3");
            texts.push_back(std::u16string(lead, u'b') + piece);
        }
    }
    return texts;
}

TEST(PackedTextTest, DecodesLikeTheGeneralConverterAtEveryAlignment) {
    PackedText packed;
    std::vector<std::pair<std::size_t, std::string>> expected;
    for (const auto& text : mixedTexts()) {
        const std::size_t offset = packed.size();
        std::size_t added = 0;
        ASSERT_TRUE(packed.appendUtf16LE(utf16LE(text), added));
        expected.emplace_back(offset, foundation::utf8::fromUtf16(text));
        EXPECT_EQ(added, expected.back().second.size());
        EXPECT_EQ(media::decodeUtf16LE(utf16LE(text)), expected.back().second);
    }
    // Earlier texts stay where they were as the block grows and moves.
    for (const auto& [offset, text] : expected) EXPECT_EQ(packed.view(offset, text.size()), text);
    const PackedText copy = packed;
    packed.replaceFrom(0, 'a', 'z');
    EXPECT_EQ(copy.view(expected[2].first, 3), "aé");
    EXPECT_EQ(packed.view(expected[2].first, 3), "zé");
}

TEST(PackedTextTest, MalformedUtf16AddsNothing) {
    const std::vector<std::vector<std::uint8_t>> malformed = {
        {'a', 0, 'b'},                                    // odd byte count
        utf16LE(u"abcdefgh\xD83C"),                       // high surrogate at the end
        utf16LE(u"ab\xD83C" u"cdefgh"),                  // high surrogate without its low
        utf16LE(u"abcdefg\xDFB5"),                        // low surrogate alone
        utf16LE(u"\xDFB5\xD83C"),                         // the pair the wrong way round
    };
    PackedText packed;
    std::size_t added = 0;
    ASSERT_TRUE(packed.appendUtf16LE(utf16LE(u"kept"), added));
    for (const auto& bytes : malformed) {
        added = 99;
        EXPECT_FALSE(packed.appendUtf16LE(bytes, added));
        EXPECT_EQ(added, 99u);
        EXPECT_EQ(packed.size(), 4u);
        EXPECT_FALSE(media::decodeUtf16LE(bytes));
        std::string out = "x";
        EXPECT_FALSE(media::appendUtf16LE(bytes, out));
        EXPECT_EQ(out, "x");
    }
    EXPECT_EQ(packed.view(0, 100), "kept");
    EXPECT_EQ(packed.view(4, 1), "");
    EXPECT_EQ(PackedText().view(0, 1), "");
}

}  // namespace
