#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "PropertyListSamples.h"
#include "foundation/PropertyList.h"

namespace foundation {
namespace {

void appendBigEndian(Data& out, std::uint64_t value, unsigned width) {
    for (unsigned i = width; i > 0; --i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * (i - 1))));
}

// A binary property list of the given raw objects, with eight-byte offsets; object 0 on top.
Data makeBinary(const std::vector<Data>& objects, std::uint8_t referenceSize = 1) {
    Data out{'b', 'p', 'l', 'i', 's', 't', '0', '0'};
    std::vector<std::uint64_t> offsets;
    for (const Data& object : objects) {
        offsets.push_back(out.size());
        out.insert(out.end(), object.begin(), object.end());
    }
    const std::uint64_t table = out.size();
    for (const std::uint64_t offset : offsets) appendBigEndian(out, offset, 8);
    out.insert(out.end(), 6, 0);
    out.push_back(8);
    out.push_back(referenceSize);
    appendBigEndian(out, objects.size(), 8);
    appendBigEndian(out, 0, 8);
    appendBigEndian(out, table, 8);
    return out;
}

std::optional<Value> read(const Data& bytes, std::string* error = nullptr) {
    return plist::read(std::span<const std::uint8_t>(bytes), error);
}

Value readOk(const Data& bytes) {
    return testing::readOk({reinterpret_cast<const char*>(bytes.data()), bytes.size()},
                           plist::Format::Binary);
}

Data writeOk(const Value& value) {
    std::string error;
    auto bytes = plist::writeBinary(value, &error);
    EXPECT_TRUE(bytes) << error;
    return bytes.value_or(Data{});
}

void expectError(const Data& bytes, const char* word) {
    std::string error;
    EXPECT_FALSE(read(bytes, &error));
    EXPECT_NE(error.find(word), std::string::npos) << error;
}

TEST(BinaryPropertyListTest, RoundTripsEveryKindExactly) {
    Value value = testing::sharedSample(true);
    value.set("uint64", Value::list({std::numeric_limits<std::uint64_t>::max(),
                                     std::uint64_t{9223372036854775808u}}));
    value.set("odd reals", Value::list({std::nan(""), -std::numeric_limits<double>::infinity()}));
    value.set("odd dates", Value::list({Date{-11676096000.5}, Date{std::nan("")}}));
    value.set("control", "a\r\n\x01\x7F");
    value.set("uid lookalike", Value::dict({{"CF$UID", 5}}));

    EXPECT_EQ(readOk(writeOk(value)), value);
    for (const Value& top : {Value(-1), Value("text"), Value(Data{1}), Value(Date{-0.5}),
                             Value(true), Value(std::numeric_limits<std::uint64_t>::max())}) {
        EXPECT_EQ(readOk(writeOk(top)), top);
    }
    // Unsigned values that fit come back as Int64.
    EXPECT_EQ(readOk(writeOk(Value(std::uint64_t{9223372036854775807u}))),
              Value(std::numeric_limits<std::int64_t>::max()));
}

// Forms our writer does not produce; libplist's output covers the rest.
TEST(BinaryPropertyListTest, ReadsOtherWritersForms) {
    const Data zeros(8, 0x00);
    const Data ones(8, 0xFF);
    auto sixteen = [](const Data& high, const Data& low) {
        Data object{0x14};
        object.insert(object.end(), high.begin(), high.end());
        object.insert(object.end(), low.begin(), low.end());
        return object;
    };
    const std::pair<std::vector<Data>, Value> cases[] = {
        // 16-byte integers: unsigned past INT64_MAX, signed where they fit.
        {{sixteen(zeros, ones)}, Value(std::numeric_limits<std::uint64_t>::max())},
        {{sixteen(zeros, {0, 0, 0, 0, 0, 0, 0, 7})}, Value(7)},
        {{sixteen(ones, ones)}, Value(-1)},
        {{{0x22, 0x3F, 0xC0, 0x00, 0x00}}, Value(1.5)},
        // UTF-16 with a surrogate pair, then an unpaired one.
        {{{0x63, 0xD8, 0x3D, 0xDE, 0x00, 0xD8, 0x00}}, Value("\xF0\x9F\x98\x80\xEF\xBF\xBD")},
        // Key and value share one object; an array holds one array twice (no cycle).
        {{{0xD1, 0x01, 0x01}, {0x51, 'k'}}, Value::dict({{"k", "k"}})},
        {{{0xA2, 0x01, 0x01}, {0xA1, 0x02}, {0x09}},
         Value::list({Value::list({true}), Value::list({true})})},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(readOk(makeBinary(cases[i].first)), cases[i].second);
    }
}

TEST(BinaryPropertyListTest, RejectsMalformedObjects) {
    const Data huge{0x13, 0x3F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    std::vector<std::vector<Data>> cases = {
        {{0xA1, 0x05}, {0x09}},                   // reference past the count
        {{0xA3, 0x01}, {0x09}},                   // references run past the objects
        {{0x13, 0x01}},                           // truncated integer
        {{0x23, 0x01, 0x02}},                     // truncated real
        {{0x33, 0x01}},                           // truncated date
        {{0x87, 1, 2}},                           // truncated UID
        {{0x89, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},  // UID too wide
        {{0x14, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0}},  // 16-byte past uint64
        {{0x14, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0}},
        {{0x4F, 0x13, 0x80, 0, 0, 0, 0, 0, 0, 0}},                 // negative length
        {{0x4F, 0x23, 0, 0, 0, 0, 0, 0, 0, 0}},                    // length that is no integer
        {{0x6F, 0x13, 0x40, 0, 0, 0, 0, 0, 0, 1}},                 // UTF-16 bytes wrap around
        {{0x00}},                                                  // null
        {{0x0F}},                                                  // fill
        {{0xC1, 0x01}, {0x09}},                                    // set
        {{0x24, 0, 0, 0, 0}},                                      // 16-byte real
        {{0x34, 0, 0, 0, 0, 0, 0, 0, 0}},                          // malformed date marker
        {{0xD1, 0x01, 0x01}, {0x10, 0x01}},                        // integer key
        {{0xD1, 0x01, 0x02}, {0xA0}, {0x09}},                      // array key
        {{0xA1, 0x01}, {0xD1, 0x02, 0x00}, {0x51, 'k'}},           // cycle through a dict
        {{0xA1, 0x01}, {0xA1, 0x02}, {0xA2, 0x03, 0x00}, {0x09}},  // longer cycle
    };
    for (const std::uint8_t marker : {0x4F, 0x5F, 0x6F, 0xAF, 0xDF}) {  // huge counts
        Data object{marker};
        object.insert(object.end(), huge.begin(), huge.end());
        cases.push_back({object});
    }
    for (std::size_t i = 0; i < cases.size(); ++i) {
        std::string error;
        EXPECT_FALSE(read(makeBinary(cases[i]), &error)) << "case " << i;
        EXPECT_FALSE(error.empty()) << "case " << i;
    }
    expectError(makeBinary({{0xA1, 0x00}}), "cycle");  // an array holding itself

    // Each array holds the next one twice: 2^60 leaves from a file of under 300 bytes.
    std::vector<Data> doubling;
    for (std::uint8_t i = 1; i <= 60; ++i) doubling.push_back({0xA2, i, i});
    doubling.push_back({0x09});
    expectError(makeBinary(doubling), "expand");
}

TEST(BinaryPropertyListTest, RejectsBadTrailersAndOffsets) {
    const Data good = makeBinary({{0xA1, 0x01}, {0x09}});
    ASSERT_EQ(readOk(good), Value::list({true}));
    const std::size_t t = good.size() - 32;
    auto patched = [&](std::size_t pos, std::uint64_t value, unsigned width) {
        Data out = good;
        for (unsigned i = 0; i < width; ++i)
            out[pos + i] = static_cast<std::uint8_t>(value >> (8 * (width - 1 - i)));
        return out;
    };
    const Data cases[] = {
        patched(t + 6, 0, 1),             // offset size 0
        patched(t + 6, 9, 1),             // offset size 9
        patched(t + 7, 0, 1),             // reference size 0
        patched(t + 8, 0, 8),             // no objects
        patched(t + 8, ~0ull, 8),         // absurd object count
        patched(t + 8, 3, 8),             // table runs into trailer
        patched(t + 16, 2, 8),            // top object out of range
        patched(t + 24, good.size(), 8),  // table past the end
        patched(t + 24, ~0ull - 4, 8),    // wrapping table offset
        patched(t + 24, 0, 8),            // table over the header
        patched(0, 0x3031, 2),            // not the magic at all
        patched(t - 1, t - 8, 1),         // second object's offset points into the table
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) EXPECT_FALSE(read(cases[i])) << i;
    expectError(patched(6, '1', 1), "version");  // bplist10
}

TEST(BinaryPropertyListTest, EveryTruncationAndCorruptionFailsCleanly) {
    const Data bytes = writeOk(testing::sharedSample(true));
    EXPECT_FALSE(read(Data{}));
    // Shorter than the "bplist" magic, a prefix is just a word of the text form.
    for (std::size_t length = 6; length < bytes.size(); ++length) {
        EXPECT_FALSE(read(Data(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length))))
            << "length " << length;
    }
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

TEST(BinaryPropertyListTest, NestingLimitIsTheSameForWriterAndReader) {
    Value deepest = Value(Array{});
    for (std::size_t i = 1; i < kMaxNestingDepth; ++i) deepest = Value::list({deepest});
    EXPECT_EQ(readOk(writeOk(deepest)), deepest);
    std::string error;
    EXPECT_FALSE(plist::writeBinary(Value::list({deepest}), &error));
    EXPECT_NE(error.find("nested"), std::string::npos) << error;

    // A file nesting far deeper: object i holds object i + 1 (two-byte references).
    std::vector<Data> chain;
    for (std::size_t next = 1; next < 2000; ++next)
        chain.push_back(
            {0xA1, static_cast<std::uint8_t>(next >> 8), static_cast<std::uint8_t>(next)});
    chain.push_back({0xA0});
    expectError(makeBinary(chain, 2), "nested");
}

}  // namespace
}  // namespace foundation
