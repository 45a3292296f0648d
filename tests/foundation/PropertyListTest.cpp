#include "foundation/PropertyList.h"

#include <gtest/gtest.h>

namespace foundation {
namespace {

plist::Format detected(std::string_view bytes) {
    plist::Format format{};
    plist::read(bytes, nullptr, &format);
    return format;
}

TEST(PropertyListTest, DetectsTheForm) {
    EXPECT_EQ(detected("<?xml version=\"1.0\"?><plist><true/></plist>"), plist::Format::Xml);
    EXPECT_EQ(detected("\xEF\xBB\xBF\n\t <plist><true/></plist>"), plist::Format::Xml);
    EXPECT_EQ(detected("  <!DOCTYPE plist><plist><true/></plist>"), plist::Format::Xml);
    EXPECT_EQ(detected("bplist00 and garbage"), plist::Format::Binary);
    EXPECT_EQ(detected("bplist15"), plist::Format::Binary);
    EXPECT_EQ(detected("{ a = b; }"), plist::Format::OpenStep);
    EXPECT_EQ(detected("<0fbd>"), plist::Format::OpenStep);
}

TEST(PropertyListTest, ReadsUtf16TextWithAByteOrderMark) {
    const std::u16string text = u"\uFEFF\"gr\u00FC\u00DF\" = \"\U0001F600\";";
    std::string little;
    std::string big;
    for (const char16_t unit : text) {
        little += static_cast<char>(unit & 0xFF);
        little += static_cast<char>(unit >> 8);
        big += static_cast<char>(unit >> 8);
        big += static_cast<char>(unit & 0xFF);
    }
    const Value expected = Value::dict({{"gr\xC3\xBC\xC3\x9F", "\xF0\x9F\x98\x80"}});
    EXPECT_EQ(plist::read(little), expected);
    EXPECT_EQ(plist::read(big), expected);

    std::string error;
    EXPECT_FALSE(plist::read(little.substr(0, little.size() - 1), &error));
    EXPECT_NE(error.find("odd"), std::string::npos) << error;

    const std::u16string xml = u"\uFEFF<plist><string>\u00E9</string></plist>";
    std::string xmlBytes;
    for (const char16_t unit : xml) {
        xmlBytes += static_cast<char>(unit & 0xFF);
        xmlBytes += static_cast<char>(unit >> 8);
    }
    plist::Format format{};
    EXPECT_EQ(plist::read(xmlBytes, nullptr, &format), Value("\xC3\xA9"));
    EXPECT_EQ(format, plist::Format::Xml);
}

TEST(PropertyListTest, WritersRefuseNilAndNullNamingThePlace) {
    const std::pair<Value, const char*> cases[] = {
        {Value(), "at the top"},
        {Value::null(), "at the top"},
        {Value::dict({{"list", Value::list({1, Value::dict({{"x", Value::null()}})})}}),
         "at list[1].x"},
    };
    for (const auto& [value, place] : cases) {
        std::string binaryError;
        std::string xmlError;
        EXPECT_FALSE(plist::writeBinary(value, &binaryError));
        EXPECT_FALSE(plist::writeXml(value, &xmlError));
        EXPECT_NE(binaryError.find(place), std::string::npos) << binaryError;
        EXPECT_EQ(binaryError, xmlError);
    }

    // Containers filled through the mutable accessors can still smuggle a nil in.
    Value list = Value(Array{});
    list.array()->push_back(Value());
    EXPECT_FALSE(plist::writeBinary(list));
    EXPECT_FALSE(plist::writeXml(list));
}

TEST(PropertyListTest, EmptyInputIsAnError) {
    std::string error;
    EXPECT_FALSE(plist::read(std::string_view(), &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(plist::read(" \n // only a comment\n", &error));
}

}  // namespace
}  // namespace foundation
