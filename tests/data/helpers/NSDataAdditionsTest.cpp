#include <gtest/gtest.h>

#include "data/helpers/NSDataAdditions.h"
#include "data/helpers/NSDataBaseConversion.h"
#include "data/support/ByteHelpers.h"

namespace {

using datatest::bytes;
using foundation::Data;
using NSData::kNotFound;
using NSData::Range;

TEST(NSDataAdditionsTest, ForwardAndBackwardSearches) {
    struct Case {
        std::string data, pattern;
        Range first, last;
    };
    const Case cases[] = {
        {"", "\n", {kNotFound, 1}, {kNotFound, 1}},
        {"a", "ab", {kNotFound, 2}, {kNotFound, 2}},
        {"abcabc", "bc", {1, 2}, {4, 2}},
        {"abc", "abc", {0, 3}, {0, 3}},
        {"aaaa", "aa", {0, 2}, {2, 2}},
        {"xyz", "q", {kNotFound, 1}, {kNotFound, 1}},
        {"xyz", "", {kNotFound, 0}, {kNotFound, 0}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NSData::rangeOfData(bytes(c.data), bytes(c.pattern)), c.first) << c.data;
        EXPECT_EQ(NSData::rangeOfDataBackwardsSearch(bytes(c.data), bytes(c.pattern)), c.last)
            << c.data;
    }
}

TEST(NSDataAdditionsTest, TextInEachEncodingOrNothing) {
    using E = NSData::StringEncoding;
    struct Case {
        Data data;
        E encoding;
        std::optional<std::string> text;
    };
    const Case cases[] = {
        {bytes("caf\xC3\xA9"), E::UTF8, "caf\xC3\xA9"},
        {bytes("caf\xC3"), E::UTF8, std::nullopt},
        {bytes("plain"), E::ASCII, "plain"},
        {bytes("caf\xE9"), E::ASCII, std::nullopt},
        {bytes("caf\xE9"), E::ISOLatin1, "caf\xC3\xA9"},
        {bytes("\x80"), E::WindowsCP1252, "\xE2\x82\xAC"},
        {bytes("\x8E"), E::MacOSRoman, "\xC3\xA9"},
        {{0x00, 'h', 0x00, 'i'}, E::UTF16BigEndian, "hi"},
        {{'h', 0x00, 'i', 0x00}, E::UTF16LittleEndian, "hi"},
        {{0xFF, 0xFE, 'h', 0x00}, E::UTF16, "h"},
        {{0x00, 'h'}, E::UTF16, "h"},
        {{0x00, 'h', 0x00}, E::UTF16BigEndian, std::nullopt},
        {{0xD8, 0x00, 0x00, 'a'}, E::UTF16BigEndian, std::nullopt},
        {{}, E::UTF16, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NSData::stringValueWithEncoding(c.data, c.encoding), c.text)
            << static_cast<int>(c.encoding) << " " << datatest::hex(c.data);
    }
}

TEST(NSDataBaseConversionTest, Rfc4648VectorsRoundTrip) {
    struct Case {
        const char* plain;
        const char* base32;
        const char* base16;
    };
    const Case cases[] = {
        {"", "", ""},
        {"f", "MY======", "66"},
        {"fo", "MZXQ====", "666F"},
        {"foo", "MZXW6===", "666F6F"},
        {"foob", "MZXW6YQ=", "666F6F62"},
        {"fooba", "MZXW6YTB", "666F6F6261"},
        {"foobar", "MZXW6YTBOI======", "666F6F626172"},
    };
    for (const auto& c : cases) {
        const Data plain = bytes(c.plain);
        EXPECT_EQ(NSData::base32String(plain), c.base32);
        EXPECT_EQ(NSData::dataWithBase32String(c.base32), plain) << c.base32;
        EXPECT_EQ(NSData::base16String(plain), c.base16);
        EXPECT_EQ(NSData::dataWithBase16String(c.base16), plain);
    }
    Data every;
    for (int i = 0; i < 256; ++i) every.push_back(static_cast<std::uint8_t>(i * 7));
    EXPECT_EQ(NSData::dataWithBase32String(NSData::base32String(every)), every);
    EXPECT_EQ(NSData::dataWithBase16String(NSData::base16String(every)), every);
}

TEST(NSDataBaseConversionTest, MalformedTextIsRefused) {
    for (const char* bad : {"MY=====", "MY======MY======", "M=======", "MZ=XW6==", "my======",
                            "MZXW6YT1", "MZXW6YQ=\n", "MZXW=6YQ", "========", "MZXW6Y=="}) {
        EXPECT_FALSE(NSData::dataWithBase32String(bad)) << bad;
    }
    for (const char* bad : {"6", "6G", "66 6", "0x"}) {
        EXPECT_FALSE(NSData::dataWithBase16String(bad)) << bad;
    }
    EXPECT_EQ(NSData::dataWithBase16String("aBcD"), (Data{0xAB, 0xCD}));
}

TEST(NSDataBaseConversionTest, BinaryDigitsEndEachByteWithASpace) {
    EXPECT_EQ(NSData::base2String(Data{0}), "00000000 ");
    EXPECT_EQ(NSData::base2String(Data{0x80, 0x05}), "10000000 00000101 ");
    EXPECT_EQ(NSData::base2String(Data{}), "");
}

}  // namespace
