// libplist 2.2 as an independent producer and consumer of our property lists, and the
// node bridge the device layer uses.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "PropertyListSamples.h"
#include "foundation/PropertyList.h"

namespace foundation {
namespace {

using testing::k2001;
using testing::libplistOutput;
using testing::own;
using testing::readOk;
constexpr auto kBinary = plist::Format::Binary;
constexpr auto kXml = plist::Format::Xml;
constexpr auto kI64Min = std::numeric_limits<std::int64_t>::min();
constexpr auto kI64Max = std::numeric_limits<std::int64_t>::max();

// libplist's XML writer truncates dates toward zero, so the XML sample has whole seconds.
TEST(LibplistInteropTest, EachReadsTheOthersOutput) {
    const Value binarySample = testing::sharedSample(true);
    const Value xmlSample = testing::sharedSample(false);
    const auto binaryNode = own(plist::toNode(binarySample));
    const auto xmlNode = own(plist::toNode(xmlSample));
    ASSERT_TRUE(binaryNode && xmlNode);
    EXPECT_EQ(readOk(libplistOutput(binaryNode.get(), kBinary), kBinary), binarySample);
    EXPECT_EQ(readOk(libplistOutput(xmlNode.get(), kXml), kXml), xmlSample);

    const auto binary = plist::writeBinary(binarySample);
    const auto xml = plist::writeXml(xmlSample);
    ASSERT_TRUE(binary && xml);
    plist_t fromBinary = nullptr;
    plist_t fromXml = nullptr;
    plist_from_bin(reinterpret_cast<const char*>(binary->data()),
                   static_cast<std::uint32_t>(binary->size()), &fromBinary);
    plist_from_xml(xml->data(), static_cast<std::uint32_t>(xml->size()), &fromXml);
    const auto ownedBinary = own(fromBinary);
    const auto ownedXml = own(fromXml);
    ASSERT_TRUE(fromBinary && fromXml);
    EXPECT_EQ(plist::fromNode(fromBinary), binarySample);
    EXPECT_EQ(plist::fromNode(fromXml), xmlSample);
}

TEST(LibplistInteropTest, NodeIntegersAreSigned64BitAndUidsDictionaries) {
    const auto node = own(plist::toNode(Value::list({kI64Min, -1, kI64Max, 5u})));
    ASSERT_TRUE(node);
    plist_array_append_item(node.get(), plist_new_uid(7));
    const Value expected = Value::list({kI64Min, -1, kI64Max, 5, Value::dict({{"CF$UID", 7}})});
    EXPECT_EQ(plist::fromNode(node.get()), expected);
    EXPECT_EQ(readOk(libplistOutput(node.get(), kBinary), kBinary), expected);
    EXPECT_EQ(readOk(libplistOutput(node.get(), kXml), kXml), expected);
}

// Dates cross libplist as int32 seconds toward zero plus unsigned microseconds; check both
// directions against libplist's binary form, which holds the exact double.
TEST(LibplistInteropTest, NodeDatesKeepTheirSignAndFraction) {
    for (const double since2001 :
         {-99.25, -0.25, 0.25, -1.0, 0.0, 1.5, -2147483648.0, 2147483647.75, -1234567.000001}) {
        const auto node = own(plist::toNode(Value::list({Date{k2001 + since2001}})));
        ASSERT_TRUE(node) << since2001;
        const Value viaBinary = readOk(libplistOutput(node.get(), kBinary), kBinary);
        EXPECT_NEAR(viaBinary[0].date()->secondsSince1970 - k2001, since2001, 2e-6) << since2001;
        const Value viaNode = plist::fromNode(node.get());
        EXPECT_NEAR(viaNode[0].date()->secondsSince1970 - k2001, since2001, 2e-6) << since2001;
    }
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
