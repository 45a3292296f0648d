// libplist 2.2 as an independent producer and consumer of our property lists, and the
// node bridge the device layer uses.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "PropertyListSamples.h"
#include "foundation/PropertyList.h"

namespace foundation {
namespace {

using testing::bytesOf;
using testing::k2001;
using testing::libplistBinary;
using testing::libplistXml;
using testing::own;
using testing::sharedSample;

Value readOk(const std::string& bytes, plist::Format expectedFormat) {
    std::string error;
    plist::Format format{};
    auto value = plist::read(bytesOf(bytes), &error, &format);
    EXPECT_TRUE(value) << error;
    EXPECT_EQ(format, expectedFormat);
    return value.value_or(Value());
}

TEST(LibplistInteropTest, OurReaderReadsLibplistOutput) {
    const Value binarySample = sharedSample(true);
    const auto binaryNode = own(plist::toNode(binarySample));
    ASSERT_TRUE(binaryNode);
    EXPECT_EQ(readOk(libplistBinary(binaryNode.get()), plist::Format::Binary), binarySample);

    // libplist's XML writer truncates dates toward zero, so whole seconds here.
    const Value xmlSample = sharedSample(false);
    const auto xmlNode = own(plist::toNode(xmlSample));
    ASSERT_TRUE(xmlNode);
    EXPECT_EQ(readOk(libplistXml(xmlNode.get()), plist::Format::Xml), xmlSample);
}

TEST(LibplistInteropTest, LibplistReadsOurOutput) {
    const Value binarySample = sharedSample(true);
    const auto binary = plist::writeBinary(binarySample);
    ASSERT_TRUE(binary);
    plist_t fromBinary = nullptr;
    plist_from_bin(reinterpret_cast<const char*>(binary->data()),
                   static_cast<std::uint32_t>(binary->size()), &fromBinary);
    const auto binaryNode = own(fromBinary);
    ASSERT_TRUE(binaryNode);
    EXPECT_EQ(plist::fromNode(binaryNode.get()), binarySample);

    const Value xmlSample = sharedSample(false);
    const auto xml = plist::writeXml(xmlSample);
    ASSERT_TRUE(xml);
    plist_t fromXml = nullptr;
    plist_from_xml(xml->data(), static_cast<std::uint32_t>(xml->size()), &fromXml);
    const auto xmlNode = own(fromXml);
    ASSERT_TRUE(xmlNode);
    EXPECT_EQ(plist::fromNode(xmlNode.get()), xmlSample);
}

TEST(LibplistInteropTest, UidsReadAsDictionaries) {
    const auto node = own(plist_new_array());
    plist_array_append_item(node.get(), plist_new_uid(7));
    const Value expected = Value::list({Value::dict({{"CF$UID", 7}})});
    EXPECT_EQ(readOk(libplistBinary(node.get()), plist::Format::Binary), expected);
    EXPECT_EQ(plist::fromNode(node.get()), expected);
}

// Dates cross libplist as int32 seconds and microseconds; check both directions against
// libplist's binary form, which holds the exact double.
TEST(LibplistInteropTest, NodeDatesKeepTheirSignAndFraction) {
    for (const double since2001 :
         {-99.25, -0.25, 0.25, -1.0, 0.0, 1.5, -2147483648.0, 2147483647.75, -1234567.000001}) {
        const Value date(Date{k2001 + since2001});
        const auto node = own(plist::toNode(Value::list({date})));
        ASSERT_TRUE(node) << since2001;
        const Value viaBinary = readOk(libplistBinary(node.get()), plist::Format::Binary);
        EXPECT_NEAR(viaBinary[0].date()->secondsSince1970 - k2001, since2001, 2e-6) << since2001;
        EXPECT_NEAR(plist::fromNode(node.get())[0].date()->secondsSince1970 - k2001, since2001,
                    2e-6)
            << since2001;
    }

    // libplist's own convention: seconds toward zero, microseconds without sign.
    const auto negative = own(plist_new_date(-100, 750000));  // -99.25 s
    std::int32_t seconds = 0;
    std::int32_t micro = 0;
    plist_get_date_val(negative.get(), &seconds, &micro);
    EXPECT_EQ(seconds, -99);
    EXPECT_EQ(micro, 250000);
    EXPECT_EQ(plist::fromNode(negative.get()), Value(Date{k2001 - 99.25}));
    EXPECT_EQ(plist::fromNode(own(plist_new_date(-1, 750000)).get()), Value(Date{k2001 - 0.25}));
    EXPECT_EQ(plist::fromNode(own(plist_new_date(0, 250000)).get()), Value(Date{k2001 + 0.25}));
}

TEST(LibplistInteropTest, NodeIntegersAreSigned64Bit) {
    const Value value = Value::list({std::numeric_limits<std::int64_t>::min(), -1,
                                     std::numeric_limits<std::int64_t>::max(), 5u});
    const auto node = own(plist::toNode(value));
    ASSERT_TRUE(node);
    const Value expected = Value::list({std::numeric_limits<std::int64_t>::min(), -1,
                                        std::numeric_limits<std::int64_t>::max(), 5});
    EXPECT_EQ(plist::fromNode(node.get()), expected);
    EXPECT_EQ(readOk(libplistXml(node.get()), plist::Format::Xml), expected);
}

TEST(LibplistInteropTest, ToNodeRefusesWhatLibplistWouldCorrupt) {
    const Value refused[] = {
        Value(),
        Value::null(),
        Value::dict({{"a", Value::list({Value::null()})}}),
        Value::list({std::numeric_limits<std::uint64_t>::max()}),
        Value::list({Date{k2001 - 2147483649.0}}),
        Value::list({Date{k2001 + 2147483648.0}}),
        Value::list({Date{std::nan("")}}),
        Value::list({std::string("a\0b", 3)}),
        Value::dict({{std::string("k\0", 2), 1}}),
    };
    for (const Value& value : refused) EXPECT_EQ(plist::toNode(value), nullptr);
    EXPECT_TRUE(plist::fromNode(nullptr).isNil());
}

TEST(LibplistInteropTest, NodeTextIsValidUtf8) {
    const auto node = own(plist::toNode(Value::dict({{"k\xFF", "v\xC0"}})));
    ASSERT_TRUE(node);
    EXPECT_EQ(plist::fromNode(node.get()), Value::dict({{"k\xEF\xBF\xBD", "v\xEF\xBF\xBD"}}));
}

TEST(LibplistInteropTest, DeepNodesAreCutAtTheLimit) {
    const auto top = own(plist_new_array());
    plist_t inner = top.get();
    for (std::size_t i = 0; i < kMaxNestingDepth + 10; ++i) {
        plist_t next = plist_new_array();
        plist_array_append_item(inner, next);
        inner = next;
    }
    Value value = plist::fromNode(top.get());
    std::size_t depth = 0;
    for (const Value* v = &value; v->isArray() && v->size() > 0; v = &(*v)[0]) ++depth;
    EXPECT_EQ(depth, kMaxNestingDepth - 1);
    EXPECT_TRUE(plist::writeBinary(value));
}

}  // namespace
}  // namespace foundation
