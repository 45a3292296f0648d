#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "PropertyListSamples.h"
#include "foundation/Base64.h"
#include "foundation/PropertyList.h"

namespace foundation {
namespace {

using testing::failure;

constexpr char kHeader[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n";
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr auto kI64Min = std::numeric_limits<std::int64_t>::min();
constexpr auto kI64Max = std::numeric_limits<std::int64_t>::max();
constexpr auto kU64Max = std::numeric_limits<std::uint64_t>::max();

std::string writeOk(const Value& value) {
    std::string error;
    auto text = plist::writeXml(value, &error);
    EXPECT_TRUE(text) << error;
    return text.value_or("");
}

Value readOk(std::string_view text) {
    return testing::readOk(text, plist::Format::Xml);
}

std::string wrap(std::string_view body) {
    return std::string(kHeader) + std::string(body) + "\n</plist>\n";
}

TEST(XmlPropertyListTest, RoundTripsEveryKind) {
    Value value = testing::sharedSample(false);
    value.set("uint64 max", kU64Max);
    value.set("dates", Value::list({Date{-11676096000.0}, Date{253402300799.0}}));
    value.set("reals", Value::list({std::nan(""), kInf, -kInf, 5e-324, -0.0, 1e21, 123456789.125}));
    value.set("control", "cr\r lf\n tab\t bell\x07 \x1F");
    value.set("markup", "]]> <!-- --> &amp; <key>");
    value.set("spaces", "  leading and trailing  ");
    EXPECT_EQ(readOk(writeOk(value)), value);

    // Invalid UTF-8 is written as replacement characters.
    EXPECT_EQ(readOk(writeOk(Value::dict({{"k\xC0", "v\xED\xA0\x80"}}))),
              Value::dict({{"k\xEF\xBF\xBD", "v\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"}}));
}

TEST(XmlPropertyListTest, DatesKeepTheirFractionOfASecond) {
    const std::pair<double, const char*> cases[] = {
        {-0.5, "1969-12-31T23:59:59.5Z"},
        {-86400.0, "1969-12-31T00:00:00Z"},
        {-86400.5, "1969-12-30T23:59:59.5Z"},
        {1.25, "1970-01-01T00:00:01.25Z"},
        {951782400.0, "2000-02-29T00:00:00Z"},
        {-11676096000.0, "1600-01-01T00:00:00Z"},
        {-62135596800.0, "0001-01-01T00:00:00Z"},
        {testing::k2001 - 0.25, "2000-12-31T23:59:59.75Z"},
    };
    for (const auto& [seconds, expected] : cases) {
        const std::string text = writeOk(Value(Date{seconds}));
        EXPECT_NE(text.find(std::string("<date>") + expected + "</date>"), std::string::npos)
            << seconds << "\n"
            << text;
        EXPECT_EQ(readOk(text), Value(Date{seconds}));
    }
    // Fractions that decimal cannot hold exactly still read back to the same double.
    for (const double seconds : {0.1, 1e-6, 5e-324, 1234567890.123456, -0.999999999}) {
        EXPECT_EQ(readOk(writeOk(Value(Date{seconds}))), Value(Date{seconds})) << seconds;
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
    for (const double seconds : {-62135596801.0, 253402300800.0, std::nan(""), kInf}) {
        std::string error;
        EXPECT_FALSE(plist::writeXml(Value::dict({{"when", Date{seconds}}}), &error)) << seconds;
        EXPECT_NE(error.find("when"), std::string::npos) << error;
    }
}

// A document holding each text in an element named `tag`: one element, or an array of them.
std::string elements(const std::string& tag, std::initializer_list<const char*> texts) {
    std::string body;
    for (const char* text : texts) body += "<" + tag + ">" + text + "</" + tag + ">";
    return wrap(texts.size() == 1 ? body : "<array>" + body + "</array>");
}

TEST(XmlPropertyListTest, ReadsEveryForm) {
    EXPECT_EQ(
        readOk(elements("integer", {"-5", "+5", " 42\n", "0x10", "-0x10", "0xFFFFFFFFFFFFFFFF",
                                    "9223372036854775807", "9223372036854775808",
                                    "18446744073709551615", "-9223372036854775808"})),
        Value::list(
            {-5, 5, 42, 16, -16, kU64Max, kI64Max, std::uint64_t{1} << 63, kU64Max, kI64Min}));
    EXPECT_EQ(readOk(elements("real", {"nan", "inf", "-inf", "+infinity", " 2.5e3 ", "7"})),
              Value::list({std::nan(""), kInf, -kInf, kInf, 2500.0, 7.0}));
    EXPECT_EQ(readOk(elements("date", {"1969-12-31T23:59:59.75Z", " 2001-01-01T00:00:00Z "})),
              Value::list({Date{-0.25}, Date{testing::k2001}}));
    EXPECT_EQ(readOk(elements("data", {"\n\tAA\n\tEC \r\n", ""})),
              Value::list({Data{0, 1, 2}, Data{}}));
    EXPECT_EQ(readOk(elements("string", {"&amp;&lt;&gt;&quot;&apos;&#65;&#x42;&#x1F600;",
                                         "<![CDATA[<raw> & ]]>", "a\xFF"})),
              Value::list({"&<>\"'AB\xF0\x9F\x98\x80", "<raw> & ", "a\xEF\xBF\xBD"}));
    EXPECT_EQ(readOk(wrap("<dict><!-- note --><key>a&amp;b</key><string/></dict>")),
              Value::dict({{"a&b", ""}}));
    EXPECT_EQ(readOk("<?xml version=\"1.0\"?><array><true/><false/></array>"),
              Value::list({true, false}));
    EXPECT_EQ(readOk("\xEF\xBB\xBF  <plist><string>bom</string></plist>"), Value("bom"));
}

TEST(XmlPropertyListTest, RejectsMalformedDocuments) {
    auto rejects = [](const std::string& tag, std::initializer_list<const char*> texts) {
        for (const char* text : texts) failure(elements(tag, {text}));
    };
    rejects("date", {"2021-02-29T00:00:00Z", "2020-13-01T00:00:00Z", "2020-01-01T24:00:00Z",
                     "2020-01-01T00:00:00", "2020-01-01 00:00:00Z", "2020-1-01T00:00:00Z",
                     "2020-01-01T00:00:00.Z", "0000-01-01T00:00:00Z", "yesterday"});
    rejects("integer", {"", "18446744073709551616", "-9223372036854775809", "4.2", "0x", "12abc",
                        "--1", "1 2"});
    rejects("real", {"1,5", ""});
    rejects("data", {"AAE", "AA*C"});
    for (const char* body :
         {"<dict><string>no key</string></dict>", "<dict><key>a</key></dict>",
          "<array><key>a</key></array>", "<array>loose text</array>", "<string>a<b/></string>",
          "<true>yes</true>", "<integer>1</integer><integer>2</integer>", "<set/>",
          "<array><plist/></array>", "<array>", ""}) {
        failure(wrap(body));
    }
    EXPECT_NE(failure(wrap("<dict>\n<key>a</key>\n<key>b</key>\n</dict>")).find("line 6"),
              std::string::npos);
    failure(std::string(kHeader) + "<string>unclosed");
    failure("<?xml version=\"1.0\"?>");
    // A key with no dictionary around it, at the top or inside <plist>.
    failure("<?xml?><key/>");
    failure(wrap("<key>a</key>"));
    failure("<plist><true/></plist><plist><true/></plist>");
    failure(wrap(std::string("<string>a\0b</string>", 20)));
    // External entities are never loaded.
    failure(
        "<?xml version=\"1.0\"?>\n"
        "<!DOCTYPE plist [ <!ENTITY secret SYSTEM \"file:///etc/hostname\"> ]>\n"
        "<plist><string>&secret;</string></plist>");
}

TEST(XmlPropertyListTest, DataReadsAlikeWhateverSurroundsIt) {
    // Written at every depth (lines shorten with the indentation) and read back.
    Data bytes;
    for (int i = 0; i < 5000; ++i) bytes.push_back(static_cast<std::uint8_t>(i * 13));
    for (std::size_t size : {0, 1, 2, 50, 51, 52, 5000}) {
        Value value(Data(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size)));
        for (int depth = 0; depth < 10; ++depth) {
            value = Value::list({value, "after"});
            EXPECT_EQ(readOk(writeOk(value)), value) << size << " bytes at depth " << depth;
        }
    }
    // 60 bytes one level in: a line of 68 characters and one of 12, each indented.
    const Data sixty(bytes.begin(), bytes.begin() + 60);
    const std::string encoded = base64::encode(sixty);
    EXPECT_EQ(writeOk(Value::list({sixty})),
              wrap("<array>\n\t<data>\n\t" + encoded.substr(0, 68) + "\n\t" + encoded.substr(68) +
                   "\n\t</data>\n</array>"));

    const Value foo(Data({'f', 'o', 'o'}));
    // Markup, entities and comments in or around the text.
    EXPECT_EQ(readOk(wrap("<data>Zm&#57;v</data>")), foo);
    EXPECT_EQ(readOk(wrap("<data><![CDATA[Zm9v]]></data>")), foo);
    EXPECT_EQ(readOk(wrap("<data>Zm<!-- x -->9v</data>")), foo);
    EXPECT_EQ(readOk(wrap("<array><!-- <data>QUFB</data> --><data>Zm9v</data></array>")),
              Value::list({foo}));
    EXPECT_EQ(readOk(wrap("<array><data><!-- <data>QUFB</data> -->Zm9v</data></array>")),
              Value::list({foo}));
    EXPECT_EQ(readOk(wrap("<dict><key>&lt;data&gt;</key><data>\r\n Zm9v\r\n</data></dict>")),
              Value::dict({{"<data>", foo}}));
    // Faults are reported as before: in the text, and on the right line after it.
    std::string error = failure(wrap("<data>\nAA*C\n</data>"));
    EXPECT_NE(error.find("AA*C"), std::string::npos) << error;
    error = failure(wrap("<data>\n\n\n</data>\n<data>Zm9v</data>"));
    EXPECT_NE(error.find("line 8"), std::string::npos) << error;
    error = failure(wrap("<array>\n<data>\nQUFB\nQUFB\n</data>\n<bogus/>\n</array>"));
    EXPECT_NE(error.find("line 9"), std::string::npos) << error;
    error = failure(wrap("<array><!-- <data>\n\nQUFB</data> -->\n<bogus/></array>"));
    EXPECT_NE(error.find("line 7"), std::string::npos) << error;
    std::string longBlock = "<array>\n<data>\n";
    for (int i = 0; i < 100; ++i) longBlock += i % 3 ? "QUFB\n" : "\tQUFBQUFB\n\n";
    error = failure(wrap(longBlock + "</data>\n<bogus/>\n</array>"));
    EXPECT_NE(error.find("line 141"), std::string::npos) << error;
    // The reader's own reports keep their columns too.
    error = failure(wrap("<array>\n<data>\nQUFB\n  QUFB</data></dict>"));
    EXPECT_NE(error.find("line 7 char 21"), std::string::npos) << error;
    error = failure(wrap("<array><data>QUFB</data></dict>"));
    EXPECT_NE(error.find("line 4 char 32"), std::string::npos) << error;
    failure(wrap("<data>Zm9v"));
    failure(wrap("<data>Zm9v</data></data>"));
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
