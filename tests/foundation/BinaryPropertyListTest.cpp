#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "PropertyListSamples.h"
#include "foundation/PropertyList.h"

namespace foundation {
namespace {

using testing::sharedSample;

void appendBigEndian(Data& out, std::uint64_t value, unsigned width) {
    for (unsigned i = width; i > 0; --i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * (i - 1))));
}

// A binary property list made of the given raw objects, with one-byte references and
// eight-byte offsets.
Data makeBinary(const std::vector<Data>& objects, std::uint64_t top = 0) {
    Data out{'b', 'p', 'l', 'i', 's', 't', '0', '0'};
    std::vector<std::uint64_t> offsets;
    for (const Data& object : objects) {
        offsets.push_back(out.size());
        out.insert(out.end(), object.begin(), object.end());
    }
    const std::uint64_t table = out.size();
    for (const std::uint64_t offset : offsets) appendBigEndian(out, offset, 8);
    out.insert(out.end(), 6, 0);
    out.push_back(8);  // offset size
    out.push_back(1);  // reference size
    appendBigEndian(out, objects.size(), 8);
    appendBigEndian(out, top, 8);
    appendBigEndian(out, table, 8);
    return out;
}

std::optional<Value> read(const Data& bytes, std::string* error = nullptr) {
    return plist::read(std::span<const std::uint8_t>(bytes), error);
}

Value readOk(const Data& bytes) {
    std::string error;
    auto value = read(bytes, &error);
    EXPECT_TRUE(value) << error;
    return value.value_or(Value());
}

Data writeOk(const Value& value) {
    std::string error;
    auto bytes = plist::writeBinary(value, &error);
    EXPECT_TRUE(bytes) << error;
    return bytes.value_or(Data{});
}

TEST(BinaryPropertyListTest, RoundTripsEveryKindExactly) {
    Value value = sharedSample(true);
    value.set("uint64 max", std::numeric_limits<std::uint64_t>::max());
    value.set("uint64 past int64", std::uint64_t{9223372036854775808u});
    value.set("date 1600", Date{-11676096000.5});
    value.set("date nan", Date{std::nan("")});
    value.set("nan", std::nan(""));
    value.set("infinity", -std::numeric_limits<double>::infinity());
    value.set("control", "a\r\n\x01\x7F");
    value.set("uid lookalike", Value::dict({{"CF$UID", 5}}));

    const Data bytes = writeOk(value);
    plist::Format format{};
    std::string error;
    const auto back = plist::read(std::span<const std::uint8_t>(bytes), &error, &format);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(format, plist::Format::Binary);
    EXPECT_EQ(*back, value);
}

TEST(BinaryPropertyListTest, ScalarsAtTheTop) {
    for (const Value& value : {Value(5), Value("text"), Value(Data{1}), Value(Date{-0.5}),
                               Value(true), Value(std::numeric_limits<std::uint64_t>::max())}) {
        EXPECT_EQ(readOk(writeOk(value)), value);
    }
}

TEST(BinaryPropertyListTest, IntegerWidthsAndSignedness) {
    // Small unsigned values come back as Int64; only values past INT64_MAX stay unsigned.
    EXPECT_EQ(readOk(writeOk(Value(5u))), Value(5));
    EXPECT_EQ(readOk(writeOk(Value(std::uint64_t{9223372036854775807u}))),
              Value(std::numeric_limits<std::int64_t>::max()));

    // 1, 2 and 4-byte integers are unsigned; 8-byte ones two's complement.
    EXPECT_EQ(readOk(makeBinary({{0x10, 0xFF}})), Value(255));
    EXPECT_EQ(readOk(makeBinary({{0x11, 0xFF, 0xFF}})), Value(65535));
    EXPECT_EQ(readOk(makeBinary({{0x12, 0xFF, 0xFF, 0xFF, 0xFF}})), Value(4294967295LL));
    EXPECT_EQ(readOk(makeBinary({{0x13, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}})),
              Value(-2));

    // 16-byte integers: unsigned past INT64_MAX, signed where they fit, refused beyond.
    const Data zeros(8, 0x00);
    const Data ones(8, 0xFF);
    auto sixteen = [](const Data& high, Data low) {
        Data object{0x14};
        object.insert(object.end(), high.begin(), high.end());
        object.insert(object.end(), low.begin(), low.end());
        return makeBinary({object});
    };
    EXPECT_EQ(readOk(sixteen(zeros, ones)), Value(std::numeric_limits<std::uint64_t>::max()));
    EXPECT_EQ(readOk(sixteen(zeros, {0, 0, 0, 0, 0, 0, 0, 7})), Value(7));
    EXPECT_EQ(readOk(sixteen(ones, ones)), Value(-1));
    EXPECT_FALSE(read(sixteen({0, 0, 0, 0, 0, 0, 0, 1}, zeros)));
    EXPECT_FALSE(read(sixteen(ones, zeros)));  // would be below INT64_MIN

    // What the writer chose: negative → 8 bytes, uint64 max → 16 bytes.
    const Data minusOne = writeOk(Value::list({-1}));
    EXPECT_NE(std::search(minusOne.begin(), minusOne.end(), ones.begin(), ones.end()),
              minusOne.end());
    EXPECT_EQ(writeOk(Value(std::numeric_limits<std::uint64_t>::max()))[8], 0x14);
    EXPECT_EQ(writeOk(Value(-1))[8], 0x13);
    EXPECT_EQ(writeOk(Value(200))[8], 0x10);
}

TEST(BinaryPropertyListTest, ReadsOtherObjectForms) {
    // A 4-byte real, an ASCII string, a UID.
    EXPECT_EQ(readOk(makeBinary({{0x22, 0x3F, 0xC0, 0x00, 0x00}})), Value(1.5));
    EXPECT_EQ(readOk(makeBinary({{0x53, 'a', 'b', 'c'}})), Value("abc"));
    EXPECT_EQ(readOk(makeBinary({{0x80, 0x2A}})), Value::dict({{"CF$UID", 42}}));
    // UTF-16 with a surrogate pair, and an unpaired one.
    EXPECT_EQ(readOk(makeBinary({{0x63, 0xD8, 0x3D, 0xDE, 0x00, 0xD8, 0x00}})),
              Value("\xF0\x9F\x98\x80\xEF\xBF\xBD"));
    // A dictionary whose key and value share one object.
    EXPECT_EQ(readOk(makeBinary({{0xD1, 0x01, 0x01}, {0x51, 'k'}})), Value::dict({{"k", "k"}}));
    // Counts of 15 and more follow the marker as an integer.
    Data longString{0x5F, 0x10, 20};
    longString.insert(longString.end(), 20, 'x');
    EXPECT_EQ(readOk(makeBinary({longString})), Value(std::string(20, 'x')));
}

TEST(BinaryPropertyListTest, NestingLimitIsTheSameForWriterAndReader) {
    Value deepest = Value(Array{});
    for (std::size_t i = 1; i < kMaxNestingDepth; ++i) deepest = Value::list({deepest});
    const Data bytes = writeOk(deepest);
    EXPECT_EQ(readOk(bytes), deepest);

    std::string error;
    EXPECT_FALSE(plist::writeBinary(Value::list({deepest}), &error));
    EXPECT_NE(error.find("nested"), std::string::npos) << error;

    // A file nesting far deeper: object i holds object i + 1 (two-byte references).
    Data chain{'b', 'p', 'l', 'i', 's', 't', '0', '0'};
    const std::size_t count = 2000;
    std::vector<std::uint64_t> offsets;
    for (std::size_t i = 0; i + 1 < count; ++i) {
        offsets.push_back(chain.size());
        chain.push_back(0xA1);
        appendBigEndian(chain, i + 1, 2);
    }
    offsets.push_back(chain.size());
    chain.push_back(0xA0);
    const std::uint64_t table = chain.size();
    for (const std::uint64_t offset : offsets) appendBigEndian(chain, offset, 8);
    chain.insert(chain.end(), 6, 0);
    chain.push_back(8);
    chain.push_back(2);
    appendBigEndian(chain, count, 8);
    appendBigEndian(chain, 0, 8);
    appendBigEndian(chain, table, 8);
    EXPECT_FALSE(read(chain, &error));
    EXPECT_NE(error.find("nested"), std::string::npos) << error;
}

TEST(BinaryPropertyListTest, EveryTruncationFails) {
    const Data bytes = writeOk(sharedSample(true));
    EXPECT_FALSE(read(Data{}));
    // Shorter than the "bplist" magic, a prefix is just a word of the text form.
    for (std::size_t length = 6; length < bytes.size(); ++length) {
        const Data cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length));
        EXPECT_FALSE(read(cut)) << "length " << length;
    }
}

TEST(BinaryPropertyListTest, CorruptedBytesNeverCrash) {
    const Data bytes = writeOk(sharedSample(true));
    std::size_t rejected = 0;
    for (std::size_t pos = 0; pos < bytes.size(); ++pos) {
        for (const std::uint8_t replacement : {0x00, 0x0F, 0x5F, 0x6F, 0xAF, 0xDF, 0xFF}) {
            Data corrupt = bytes;
            corrupt[pos] = replacement;
            std::string error;
            if (!read(corrupt, &error)) {
                ++rejected;
                EXPECT_FALSE(error.empty());
            }
        }
    }
    EXPECT_GT(rejected, 0u);
}

TEST(BinaryPropertyListTest, RejectsBadTrailers) {
    const Data good = makeBinary({{0xA1, 0x01}, {0x09}});
    ASSERT_EQ(readOk(good), Value::list({true}));
    const std::size_t t = good.size() - 32;
    auto patched = [&](std::size_t pos, std::uint64_t value, unsigned width) {
        Data out = good;
        for (unsigned i = 0; i < width; ++i) {
            out[pos + i] = static_cast<std::uint8_t>(value >> (8 * (width - 1 - i)));
        }
        return out;
    };
    EXPECT_FALSE(read(patched(t + 6, 0, 1)));             // offset size 0
    EXPECT_FALSE(read(patched(t + 6, 9, 1)));             // offset size 9
    EXPECT_FALSE(read(patched(t + 7, 0, 1)));             // reference size 0
    EXPECT_FALSE(read(patched(t + 8, 0, 8)));             // no objects
    EXPECT_FALSE(read(patched(t + 8, ~0ull, 8)));         // absurd object count
    EXPECT_FALSE(read(patched(t + 8, 3, 8)));             // table runs into trailer
    EXPECT_FALSE(read(patched(t + 16, 2, 8)));            // top object out of range
    EXPECT_FALSE(read(patched(t + 24, good.size(), 8)));  // table past the end
    EXPECT_FALSE(read(patched(t + 24, ~0ull - 4, 8)));    // wrapping table offset
    EXPECT_FALSE(read(patched(t + 24, 0, 8)));            // table over the header
    EXPECT_FALSE(read(patched(0, 0x3031, 2)));            // not the magic at all
    std::string error;
    EXPECT_FALSE(read(patched(6, '1', 1), &error));  // bplist10
    EXPECT_NE(error.find("version"), std::string::npos) << error;
}

TEST(BinaryPropertyListTest, RejectsOffsetsAndReferencesOutsideTheFile) {
    Data outside = makeBinary({{0xA1, 0x01}, {0x09}});
    // The second offset (last byte of its 8-byte entry) points into the offset table.
    outside[outside.size() - 32 - 1] = static_cast<std::uint8_t>(outside.size() - 40);
    EXPECT_FALSE(read(outside));

    EXPECT_FALSE(read(makeBinary({{0xA1, 0x05}, {0x09}})));  // reference past the count
    EXPECT_FALSE(read(makeBinary({{0xA3, 0x01}, {0x09}})));  // refs run past the objects
    EXPECT_FALSE(read(makeBinary({{0x13, 0x01}})));          // truncated integer
    EXPECT_FALSE(read(makeBinary({{0x23, 0x01, 0x02}})));    // truncated real
    EXPECT_FALSE(read(makeBinary({{0x33, 0x01}})));          // truncated date
    EXPECT_FALSE(read(makeBinary({{0x80 | 7, 1, 2}})));      // truncated UID
    EXPECT_FALSE(read(makeBinary({{0x89, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}})));  // UID too wide
}

TEST(BinaryPropertyListTest, RejectsHugeCountsWithoutAllocating) {
    const Data huge{0x13, 0x3F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    for (const std::uint8_t marker : {0x4F, 0x5F, 0x6F, 0xAF, 0xDF}) {
        Data object{marker};
        object.insert(object.end(), huge.begin(), huge.end());
        std::string error;
        EXPECT_FALSE(read(makeBinary({object}), &error)) << int{marker};
        EXPECT_FALSE(error.empty());
    }
    // A length marked as a negative 8-byte integer, and one that is not an integer.
    EXPECT_FALSE(read(makeBinary({{0x4F, 0x13, 0x80, 0, 0, 0, 0, 0, 0, 0}})));
    EXPECT_FALSE(read(makeBinary({{0x4F, 0x23, 0, 0, 0, 0, 0, 0, 0, 0}})));
    // UTF-16: 2^62 units would wrap around when doubled to bytes.
    EXPECT_FALSE(read(makeBinary({{0x6F, 0x13, 0x40, 0, 0, 0, 0, 0, 0, 1}})));
}

TEST(BinaryPropertyListTest, RejectsReferenceCycles) {
    std::string error;
    EXPECT_FALSE(read(makeBinary({{0xA1, 0x00}}), &error));  // an array holding itself
    EXPECT_NE(error.find("cycle"), std::string::npos) << error;
    EXPECT_FALSE(read(makeBinary({{0xA1, 0x01}, {0xD1, 0x02, 0x00}, {0x51, 'k'}})));  // via a dict
    EXPECT_FALSE(read(makeBinary({{0xA1, 0x01}, {0xA1, 0x02}, {0xA2, 0x03, 0x00}, {0x09}})));
}

TEST(BinaryPropertyListTest, SharedObjectsAreFineUntilTheyExplode) {
    // A shared array read twice is no cycle.
    EXPECT_EQ(readOk(makeBinary({{0xA2, 0x01, 0x01}, {0xA1, 0x02}, {0x09}})),
              Value::list({Value::list({true}), Value::list({true})}));

    // Each array holds the next one twice: 2^60 leaves from a file of under 300 bytes.
    std::vector<Data> objects;
    for (std::uint8_t i = 0; i < 60; ++i) {
        objects.push_back(
            {0xA2, static_cast<std::uint8_t>(i + 1), static_cast<std::uint8_t>(i + 1)});
    }
    objects.push_back({0x09});
    std::string error;
    EXPECT_FALSE(read(makeBinary(objects), &error));
    EXPECT_NE(error.find("expand"), std::string::npos) << error;
}

TEST(BinaryPropertyListTest, RejectsUnsupportedObjects) {
    EXPECT_FALSE(read(makeBinary({{0x00}})));                              // null
    EXPECT_FALSE(read(makeBinary({{0x0F}})));                              // fill
    EXPECT_FALSE(read(makeBinary({{0xC1, 0x01}, {0x09}})));                // set
    EXPECT_FALSE(read(makeBinary({{0x24, 0, 0, 0, 0}})));                  // 16-byte real
    EXPECT_FALSE(read(makeBinary({{0x34, 0, 0, 0, 0, 0, 0, 0, 0}})));      // malformed date marker
    EXPECT_FALSE(read(makeBinary({{0xD1, 0x01, 0x01}, {0x10, 0x01}})));    // integer key
    EXPECT_FALSE(read(makeBinary({{0xD1, 0x01, 0x02}, {0xA0}, {0x09}})));  // array key
}

}  // namespace
}  // namespace foundation
