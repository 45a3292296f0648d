#include <gtest/gtest.h>

#include <algorithm>

#include "foundation/Base64.h"
#include "foundation/Utf8.h"

namespace foundation {
namespace {

TEST(Base64Test, Rfc4648VectorsAndEveryByte) {
    const std::pair<std::string, std::string> vectors[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
    };
    for (const auto& [plain, encoded] : vectors) {
        const Data bytes(plain.begin(), plain.end());
        EXPECT_EQ(base64::encode(bytes), encoded);
        EXPECT_EQ(base64::decode(encoded), bytes);
        EXPECT_EQ(base64::decodeIgnoringWhitespace(encoded), bytes);
    }
    EXPECT_EQ(base64::decodeIgnoringWhitespace(" Zm9v\n\tYmE\r\n= "),
              Data({'f', 'o', 'o', 'b', 'a'}));
    Data bytes;
    for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<std::uint8_t>(255 - i));
    const std::string text = base64::encode(bytes);
    EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos);
    EXPECT_EQ(base64::decode(text), bytes);
}

TEST(Base64Test, RejectsBadCharactersAndPadding) {
    // Whitespace is a fault only where it is not ignored; a vertical tab is never ignored.
    for (const char* bad : {"Zg=", "Zg", "Z===", "====", "Zg=A", "Z=g=", "Zm9v=", "Zm 9v", "Zm9v\n",
                            "Zm-v", "Zm_v", "Zm9\x80", "Zm9v\v"}) {
        EXPECT_FALSE(base64::decode(bad)) << bad;
        const bool space = std::string_view(bad).find_first_of(" \n") != std::string_view::npos;
        EXPECT_EQ(base64::decodeIgnoringWhitespace(bad).has_value(), space) << bad;
    }
}

TEST(Base64Test, WrappedTextDecodesWhereverItBreaks) {
    Data bytes;
    for (int i = 0; i < 300; ++i) bytes.push_back(static_cast<std::uint8_t>(i * 37 + 11));
    for (std::size_t size : {0, 1, 2, 3, 4, 5, 47, 48, 49, 300}) {
        const Data part(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size));
        const std::string text = base64::encode(part);
        // Breaks inside groups, between them, and runs of several.
        for (std::size_t every : {1, 3, 4, 7, 68}) {
            std::string wrapped;
            for (std::size_t i = 0; i < text.size(); ++i) {
                if (i % every == 0) wrapped += i % 2 ? "\r\n\t" : "\n";
                wrapped += text[i];
            }
            wrapped += "\n\t";
            EXPECT_EQ(base64::decodeIgnoringWhitespace(wrapped), part) << wrapped;
        }
    }
    // Anything but padding after padding, also when whole groups follow.
    for (const char* bad :
         {"Zg==Zm9v", "Zg==\nZm9vYmFy", "Zm8=Zm9v", "Zm9vZm9vZ", "Zm9vZm9v\vZm9v"}) {
        EXPECT_FALSE(base64::decodeIgnoringWhitespace(bad)) << bad;
    }
}

// The encoder takes six bytes a step while eight can be read: every length and tail, and
// every byte value in every position of a step, must match a plain three-byte encoder.
TEST(Base64Test, EncodesEveryLengthAsThreeBytesAtATimeWould) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    auto reference = [](const Data& bytes) {
        std::string out;
        for (std::size_t i = 0; i < bytes.size(); i += 3) {
            const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
            std::uint32_t group = std::uint32_t{bytes[i]} << 16;
            if (n > 1) group |= std::uint32_t{bytes[i + 1]} << 8;
            if (n > 2) group |= bytes[i + 2];
            for (std::size_t k = 0; k < 4; ++k)
                out += k <= n ? kAlphabet[(group >> (18 - 6 * k)) & 0x3F] : '=';
        }
        return out;
    };
    Data bytes;
    for (int i = 0; i < 300; ++i) bytes.push_back(static_cast<std::uint8_t>(i * 151 + 7));
    for (std::size_t size = 0; size <= 300; ++size) {
        const Data part(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size));
        const std::string expected = reference(part);
        ASSERT_EQ(base64::encode(part), expected) << size;
        // Into a buffer of exactly the stated room, and added behind text already there.
        std::string room(base64::encodedLength(size) + 1, '#');
        EXPECT_EQ(base64::encodeInto(room.data(), part), room.data() + expected.size()) << size;
        EXPECT_EQ(room, expected + "#") << size;
        std::string behind = "x";
        base64::appendEncoded(behind, part);
        EXPECT_EQ(behind, "x" + expected) << size;
    }
}

TEST(Base64Test, WhitespaceTakenOutIsCountedOnlyForTextThatDecodes) {
    base64::Whitespace seen;
    EXPECT_EQ(base64::decodeIgnoringWhitespace("\n\tZm9v\n\tYmFy\n\n", &seen),
              Data({'f', 'o', 'o', 'b', 'a', 'r'}));
    EXPECT_EQ(seen.lineBreaks, 4u);
    EXPECT_FALSE(seen.carriageReturn);
    EXPECT_TRUE(base64::decodeIgnoringWhitespace("Zm9v\r\nYmFy", &seen));
    EXPECT_EQ(seen.lineBreaks, 1u);
    EXPECT_TRUE(seen.carriageReturn);
    base64::Whitespace untouched{7, false};
    EXPECT_FALSE(base64::decodeIgnoringWhitespace("Zm9v\n*\n", &untouched));
    EXPECT_EQ(untouched.lineBreaks, 7u);
}

TEST(Utf8Test, ReplacesEachMaximalInvalidSubsequence) {
    for (const std::string_view valid :
         {std::string_view(""), std::string_view("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"),
          std::string_view("\xF4\x8F\xBF\xBF"), std::string_view("a\0b", 3)}) {
        EXPECT_TRUE(utf8::isValid(valid));
    }
    const std::string r = "\xEF\xBF\xBD";
    const std::pair<std::string, std::string> cases[] = {
        {"\xC0\xAF", r + r},                  // overlong: C0 is never valid
        {"\xE0\x80\xAF", r + r + r},          // overlong three-byte form
        {"\xED\xA0\x80", r + r + r},          // surrogate U+D800
        {"\xF4\x90\x80\x80", r + r + r + r},  // past U+10FFFF
        {"\xF5\x80", r + r},
        {"a\xE2\x82", "a" + r},  // truncated sequence at the end
        {"\xE2\x82"
         "b",
         r + "b"},  // truncated, then ASCII
        {"\xF0\x9F\x98"
         "\xF0\x9F\x98\x80",
         r + "\xF0\x9F\x98\x80"},
        {"\x80\xBF", r + r},  // stray continuation bytes
        {"\xFF", r},
    };
    for (const auto& [input, expected] : cases) {
        EXPECT_FALSE(utf8::isValid(input));
        EXPECT_EQ(utf8::sanitize(input), expected);
    }
}

TEST(Utf8Test, Utf16ConversionsHandlePairsAndLoneSurrogates) {
    EXPECT_EQ(utf8::toUtf16("a\xC3\xA9\xF0\x9F\x98\x80"),
              (std::u16string{u'a', 0xE9, 0xD83D, 0xDE00}));
    EXPECT_EQ(utf8::toUtf16("\xFF"), std::u16string{0xFFFD});
    EXPECT_EQ(utf8::fromUtf16(std::u16string{0xD83D, 0xDE00}), "\xF0\x9F\x98\x80");
    EXPECT_EQ(utf8::fromUtf16(std::u16string{0xD83D, u'x'}), "\xEF\xBF\xBDx");
    EXPECT_EQ(utf8::fromUtf16(std::u16string{0xDE00, 0xD83D}), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

}  // namespace
}  // namespace foundation
