#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "PropertyListSamples.h"
#include "foundation/PropertyList.h"

namespace foundation {
namespace {

using testing::sharedSample;

constexpr char kHeader[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n";

std::string writeOk(const Value& value) {
    std::string error;
    auto text = plist::writeXml(value, &error);
    EXPECT_TRUE(text) << error;
    return text.value_or("");
}

Value readOk(std::string_view text) {
    std::string error;
    plist::Format format{};
    auto value = plist::read(text, &error, &format);
    EXPECT_TRUE(value) << error << "\n" << text;
    EXPECT_EQ(format, plist::Format::Xml);
    return value.value_or(Value());
}

std::string wrap(std::string_view body) {
    return std::string(kHeader) + std::string(body) + "\n</plist>\n";
}

// The error for a document that must fail.
std::string failure(std::string_view text) {
    std::string error;
    EXPECT_FALSE(plist::read(text, &error)) << text;
    EXPECT_FALSE(error.empty());
    return error;
}

TEST(XmlPropertyListTest, RoundTripsEveryKind) {
    Value value = sharedSample(false);
    value.set("uint64 max", std::numeric_limits<std::uint64_t>::max());
    value.set("date 1600", Date{-11676096000.0});
    value.set("date 9999", Date{253402300799.0});
    value.set("reals", Value::list({std::nan(""), std::numeric_limits<double>::infinity(),
                                    -std::numeric_limits<double>::infinity(), 5e-324, -0.0, 1e21,
                                    123456789.125}));
    value.set("control", "cr\r lf\n tab\t bell\x07 \x1F");
    value.set("markup", "]]> <!-- --> &amp; <key>");
    value.set("spaces", "  leading and trailing  ");
    EXPECT_EQ(readOk(writeOk(value)), value);
}

TEST(XmlPropertyListTest, WritesApplesLayout) {
    const Value value = Value::dict({
        {"a", Value::list({1, true, Value(Array{})})},
        {"b", Value(Dictionary{})},
        {"c", Data{0, 1, 2}},
        {"d", "x < y & z > w"},
        {"e", Date{0}},
        {"f", 1.5},
    });
    EXPECT_EQ(writeOk(value), wrap("<dict>\n"
                                   "\t<key>a</key>\n"
                                   "\t<array>\n"
                                   "\t\t<integer>1</integer>\n"
                                   "\t\t<true/>\n"
                                   "\t\t<array/>\n"
                                   "\t</array>\n"
                                   "\t<key>b</key>\n"
                                   "\t<dict/>\n"
                                   "\t<key>c</key>\n"
                                   "\t<data>\n"
                                   "\tAAEC\n"
                                   "\t</data>\n"
                                   "\t<key>d</key>\n"
                                   "\t<string>x &lt; y &amp; z &gt; w</string>\n"
                                   "\t<key>e</key>\n"
                                   "\t<date>1970-01-01T00:00:00Z</date>\n"
                                   "\t<key>f</key>\n"
                                   "\t<real>1.5</real>\n"
                                   "</dict>"));
}

TEST(XmlPropertyListTest, LongDataIsWrappedInIndentedLines) {
    const std::string text = writeOk(Value::list({Data(100, 0xAB)}));
    // 76 characters less 8 per level of indentation: 68 at one level.
    const std::string encoded =
        "q6urq6urq6urq6urq6urq6urq6urq6urq6urq6urq6urq6urq6urq6urq6urq6urq6ur";
    EXPECT_NE(text.find("\t<data>\n\t" + encoded + "\n\t"), std::string::npos) << text;
    EXPECT_EQ(readOk(text), Value::list({Data(100, 0xAB)}));
}

TEST(XmlPropertyListTest, DatesAreFlooredToTheWholeSecond) {
    const std::pair<double, const char*> cases[] = {
        {-0.5, "1969-12-31T23:59:59Z"},           {-86400.0, "1969-12-31T00:00:00Z"},
        {-86400.5, "1969-12-30T23:59:59Z"},       {0.999, "1970-01-01T00:00:00Z"},
        {951782400.0, "2000-02-29T00:00:00Z"},    {-11676096000.0, "1600-01-01T00:00:00Z"},
        {-62135596800.0, "0001-01-01T00:00:00Z"}, {testing::k2001 - 0.25, "2000-12-31T23:59:59Z"},
    };
    for (const auto& [seconds, expected] : cases) {
        const std::string text = writeOk(Value(Date{seconds}));
        EXPECT_NE(text.find(std::string("<date>") + expected + "</date>"), std::string::npos)
            << seconds << "\n"
            << text;
        EXPECT_EQ(readOk(text), Value(Date{std::floor(seconds)}));
    }
}

TEST(XmlPropertyListTest, ValuesWithoutAnXmlFormAreRefused) {
    // XML cannot carry NUL; a reader would cut the text short.
    for (const Value& value :
         {Value::list({std::string("a\0b", 3)}), Value::dict({{std::string("k\0", 2), 1}})}) {
        std::string error;
        EXPECT_FALSE(plist::writeXml(value, &error));
        EXPECT_NE(error.find("NUL"), std::string::npos) << error;
        EXPECT_TRUE(plist::writeBinary(value));
    }

    for (const double seconds :
         {-62135596801.0, 253402300800.0, std::nan(""), std::numeric_limits<double>::infinity()}) {
        std::string error;
        EXPECT_FALSE(plist::writeXml(Value::dict({{"when", Date{seconds}}}), &error)) << seconds;
        EXPECT_NE(error.find("when"), std::string::npos) << error;
    }
}

TEST(XmlPropertyListTest, ReadsDateForms) {
    EXPECT_EQ(readOk(wrap("<date>1969-12-31T23:59:59.75Z</date>")), Value(Date{-0.25}));
    EXPECT_EQ(readOk(wrap("<date> 2001-01-01T00:00:00Z </date>")), Value(Date{testing::k2001}));
    for (const char* bad : {"2021-02-29T00:00:00Z", "2020-13-01T00:00:00Z", "2020-01-01T24:00:00Z",
                            "2020-01-01T00:00:00", "2020-01-01 00:00:00Z", "2020-1-01T00:00:00Z",
                            "2020-01-01T00:00:00.Z", "0000-01-01T00:00:00Z", "yesterday"}) {
        failure(wrap(std::string("<date>") + bad + "</date>"));
    }
}

TEST(XmlPropertyListTest, ReadsIntegerForms) {
    const std::pair<const char*, Value> cases[] = {
        {"-5", Value(-5)},
        {"+5", Value(5)},
        {" 42\n", Value(42)},
        {"0x10", Value(16)},
        {"-0x10", Value(-16)},
        {"0xFFFFFFFFFFFFFFFF", Value(std::numeric_limits<std::uint64_t>::max())},
        {"9223372036854775807", Value(std::numeric_limits<std::int64_t>::max())},
        {"9223372036854775808", Value(std::uint64_t{9223372036854775808u})},
        {"18446744073709551615", Value(std::numeric_limits<std::uint64_t>::max())},
        {"-9223372036854775808", Value(std::numeric_limits<std::int64_t>::min())},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(readOk(wrap(std::string("<integer>") + text + "</integer>")), expected) << text;
    }
    for (const char* bad :
         {"", "18446744073709551616", "-9223372036854775809", "4.2", "0x", "12abc", "--1", "1 2"}) {
        failure(wrap(std::string("<integer>") + bad + "</integer>"));
    }
}

TEST(XmlPropertyListTest, ReadsRealForms) {
    EXPECT_TRUE(std::isnan(*readOk(wrap("<real>nan</real>")).real()));
    EXPECT_EQ(readOk(wrap("<real>inf</real>")), Value(std::numeric_limits<double>::infinity()));
    EXPECT_EQ(readOk(wrap("<real>-inf</real>")), Value(-std::numeric_limits<double>::infinity()));
    EXPECT_EQ(readOk(wrap("<real>+infinity</real>")),
              Value(std::numeric_limits<double>::infinity()));
    EXPECT_EQ(readOk(wrap("<real> 2.5e3 </real>")), Value(2500.0));
    EXPECT_EQ(readOk(wrap("<real>7</real>")), Value(7.0));
    failure(wrap("<real>1,5</real>"));
    failure(wrap("<real></real>"));
}

TEST(XmlPropertyListTest, DecodesEntitiesAndCharacterReferences) {
    EXPECT_EQ(readOk(wrap("<string>&amp;&lt;&gt;&quot;&apos;&#65;&#x42;&#x1F600;</string>")),
              Value("&<>\"'AB\xF0\x9F\x98\x80"));
    EXPECT_EQ(readOk(wrap("<string><![CDATA[<raw> & ]]></string>")), Value("<raw> & "));
    EXPECT_EQ(readOk(wrap("<dict><!-- note --><key>a&amp;b</key><string/></dict>")),
              Value::dict({{"a&b", ""}}));
}

TEST(XmlPropertyListTest, NeverLoadsExternalEntities) {
    const std::string text =
        "<?xml version=\"1.0\"?>\n"
        "<!DOCTYPE plist [ <!ENTITY secret SYSTEM \"file:///etc/hostname\"> ]>\n"
        "<plist><string>&secret;</string></plist>";
    failure(text);
}

TEST(XmlPropertyListTest, DataToleratesWhitespaceButNotBadBase64) {
    EXPECT_EQ(readOk(wrap("<data>\n\tAA\n\tEC \r\n</data>")), Value(Data{0, 1, 2}));
    EXPECT_EQ(readOk(wrap("<data></data>")), Value(Data{}));
    failure(wrap("<data>AAE</data>"));
    failure(wrap("<data>AA*C</data>"));
}

TEST(XmlPropertyListTest, AcceptsAValueWithoutThePlistElement) {
    EXPECT_EQ(readOk("<?xml version=\"1.0\"?><array><true/><false/></array>"),
              Value::list({true, false}));
    EXPECT_EQ(readOk("\xEF\xBB\xBF  <plist><string>bom</string></plist>"), Value("bom"));
}

TEST(XmlPropertyListTest, ReplacesInvalidUtf8) {
    EXPECT_EQ(readOk(wrap("<string>a\xFF"
                          "b</string>")),
              Value("a\xEF\xBF\xBD"
                    "b"));
    EXPECT_EQ(readOk(writeOk(Value::dict({{"k\xC0", "v\xED\xA0\x80"}}))),
              Value::dict({{"k\xEF\xBF\xBD", "v\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"}}));
}

TEST(XmlPropertyListTest, MalformedDocumentsGiveErrorsWithLines) {
    EXPECT_NE(failure(wrap("<dict>\n<key>a</key>\n<key>b</key>\n</dict>")).find("line 6"),
              std::string::npos);
    failure(wrap("<dict><string>no key</string></dict>"));
    failure(wrap("<dict><key>a</key></dict>"));
    failure(wrap("<array><key>a</key></array>"));
    failure(wrap("<array>loose text</array>"));
    failure(wrap("<string>a<b/></string>"));
    failure(wrap("<true>yes</true>"));
    failure(wrap("<integer>1</integer><integer>2</integer>"));
    failure(wrap("<set/>"));
    failure(wrap("<array><plist/></array>"));
    failure(wrap("<array>"));
    failure(wrap(""));
    failure(std::string(kHeader) + "<string>unclosed");
    failure("<?xml version=\"1.0\"?>");
    failure("<plist><true/></plist><plist><true/></plist>");
    failure(wrap(std::string("<string>a\0b</string>", 20)));
}

TEST(XmlPropertyListTest, NestingIsBounded) {
    std::string deepest;
    for (std::size_t i = 0; i < kMaxNestingDepth; ++i) deepest += "<array>";
    for (std::size_t i = 0; i < kMaxNestingDepth; ++i) deepest += "</array>";
    EXPECT_TRUE(readOk(wrap(deepest)).isArray());

    std::string error = failure(wrap("<array>" + deepest + "</array>"));
    EXPECT_NE(error.find("nested"), std::string::npos) << error;

    Value value = Value(Array{});
    for (std::size_t i = 0; i < kMaxNestingDepth; ++i) value = Value::list({value});
    EXPECT_FALSE(plist::writeXml(value, &error));
}

}  // namespace
}  // namespace foundation
