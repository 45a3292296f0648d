#include "foundation/PropertyList.h"

#include <gtest/gtest.h>

namespace foundation {
namespace {

TEST(PropertyListTest, DetectsTheForm) {
    // The other readers' tests check the form of everything they read; these are the edges.
    const std::pair<const char*, plist::Format> cases[] = {
        {"\xEF\xBB\xBF\n\t <plist><true/></plist>", plist::Format::Xml},
        {"  <!DOCTYPE plist><plist><true/></plist>", plist::Format::Xml},
        {"bplist15", plist::Format::Binary},
        {"<0fbd>", plist::Format::OpenStep},
    };
    for (const auto& [bytes, expected] : cases) {
        plist::Format format{};
        plist::read(bytes, nullptr, &format);
        EXPECT_EQ(format, expected) << bytes;
    }
    std::string error;
    EXPECT_FALSE(plist::read(std::string_view(), &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(plist::read(" \n // only a comment\n"));
}

TEST(PropertyListTest, ReadsUtf16TextWithAByteOrderMark) {
    auto encode = [](std::u16string_view text, bool bigEndian) {
        std::string out;
        for (const char16_t unit : text) {
            out += static_cast<char>(bigEndian ? unit >> 8 : unit & 0xFF);
            out += static_cast<char>(bigEndian ? unit & 0xFF : unit >> 8);
        }
        return out;
    };
    const std::u16string_view text = u"\uFEFF\"gr\u00FC\u00DF\" = \"\U0001F600\";";
    const Value expected = Value::dict({{"gr\xC3\xBC\xC3\x9F", "\xF0\x9F\x98\x80"}});
    EXPECT_EQ(plist::read(encode(text, false)), expected);
    EXPECT_EQ(plist::read(encode(text, true)), expected);

    std::string error;
    const std::string little = encode(text, false);
    EXPECT_FALSE(plist::read(little.substr(0, little.size() - 1), &error));
    EXPECT_NE(error.find("odd"), std::string::npos) << error;

    plist::Format format{};
    EXPECT_EQ(plist::read(encode(u"\uFEFF<plist><string>\u00E9</string></plist>", false), nullptr,
                          &format),
              Value("\xC3\xA9"));
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

}  // namespace
}  // namespace foundation
