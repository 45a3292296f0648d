#include <gtest/gtest.h>

#include "data/ZipHelper/GzipInflate.h"
#include "data/ZipHelper/ZipHelper.h"
#include "data/support/ByteHelpers.h"

namespace {

using datatest::gzip;
using datatest::sampleText;
using foundation::Data;

// Small piece limits run the same loop that carries inputs and outputs past 4 GiB, where
// zlib's 32-bit counters need several calls.
TEST(UngzipTest, InflatesWholeStreamsWhateverTheSizesAndPieces) {
    const std::size_t sizes[] = {0, 1, 5000, 10240, 60000, 3 * 1024 * 1024};
    const std::size_t pieces[] = {UINT_MAX, 1, 7, 4096};
    for (const auto size : sizes) {
        const Data plain = sampleText(size);
        const Data packed = gzip(plain);
        EXPECT_EQ(ZipHelper::ungzip(packed), plain) << size;
        for (const auto piece : pieces) {
            if (piece == 1 && size > 60000) continue;  // byte-at-a-time is slow for megabytes
            EXPECT_EQ(ziphelper::inflateGzipMember(packed, piece), plain) << size << "/" << piece;
        }
    }
}

TEST(UngzipTest, HighRatioOutputGrowsPastManySteps) {
    const Data plain(50 * 1024 * 1024, 'z');  // about 50 KB packed: a ratio near 1000
    EXPECT_EQ(ZipHelper::ungzip(gzip(plain)), plain);
}

// The size at the end of the input sizes the buffer only as a hint: behind the first
// member it belongs to another member or to nothing at all.
TEST(UngzipTest, OnlyTheFirstMemberIsInflated) {
    const Data first = sampleText(70000);
    const Data trailers[] = {gzip(datatest::bytes("second member")), gzip(Data{}),
                             gzip(sampleText(900000)), datatest::bytes("junk"),
                             Data{0xff, 0xff, 0xff, 0x7f}};
    for (const auto& trailer : trailers) {
        Data stream = gzip(first);
        stream.insert(stream.end(), trailer.begin(), trailer.end());
        EXPECT_EQ(ZipHelper::ungzip(stream), first) << trailer.size();
    }
    EXPECT_EQ(ZipHelper::ungzip(gzip(Data{})), Data{});
}

TEST(UngzipTest, DamagedOrForeignStreamsGiveNothing) {
    const Data plain = sampleText(40000);
    const Data packed = gzip(plain);
    auto cut = [&](std::size_t keep) { return Data(packed.begin(), packed.begin() + keep); };
    auto flipped = [&](std::size_t fromEnd) {
        Data d = packed;
        d[d.size() - fromEnd] ^= 0x01;
        return d;
    };
    const std::pair<const char*, Data> cases[] = {
        {"empty", {}},
        {"trailer cut", cut(packed.size() - 8)},
        {"last byte cut", cut(packed.size() - 1)},
        {"cut in the middle", cut(packed.size() / 2)},
        {"header only", cut(10)},
        {"crc wrong", flipped(8)},
        {"length wrong", flipped(1)},
        {"zlib wrapper", datatest::deflateWith(plain, 15)},
        {"raw deflate", datatest::deflateWith(plain, -15)},
        {"not compressed", plain},
    };
    for (const auto& [name, input] : cases) {
        EXPECT_FALSE(ZipHelper::ungzip(input)) << name;
        EXPECT_FALSE(ziphelper::inflateGzipMember(input, 5)) << name;
    }
}

}  // namespace
