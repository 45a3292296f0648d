#include <gtest/gtest.h>
#include <malloc.h>

#include <string>
#include <vector>

#include "foundation/Value.h"
#include "media/RecordMemory.h"

using foundation::Value;

namespace {

// A record of the shape the library readers build: numbers, flags, short and long texts,
// and keys longer than a string holds inline.
Value trackLike(int i) {
    return Value::dict({{"pid", 1000 + i},
                        {"pidstr", "3E8ABCDEF0123456"},
                        {"title", "Title " + std::to_string(i)},
                        {"comment", std::string(300, 'c')},
                        {"description_long", std::string(2000, 'd')},
                        {"artwork_relative_path", ""},
                        {"is_song", true},
                        {"length", 180000},
                        {"tracks", Value::list({1, 2, "three"})}});
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kPlainAllocator = false;
#else
constexpr bool kPlainAllocator = true;
#endif

// What the charge says a record takes is what the allocator hands out for it.
TEST(RecordMemory, ChargesWhatTheAllocatorHandsOut) {
    if (!kPlainAllocator) GTEST_SKIP() << "the sanitizers' allocators pad every block";
    std::vector<Value> records;
    records.reserve(1000);
    std::uint64_t charged = 0;
    const std::size_t before = mallinfo2().uordblks;
    for (int i = 0; i < 1000; ++i) {
        records.push_back(trackLike(i));
        charged += media::RecordMemory::ownedBytes(records.back());
    }
    const double measured = static_cast<double>(mallinfo2().uordblks - before);
    EXPECT_GE(static_cast<double>(charged), measured * 0.97);
    EXPECT_LE(static_cast<double>(charged), measured * 1.03);

    // Entries set on the records afterwards, as the statistics of a library are.
    charged = 0;
    const std::size_t beforeEntries = mallinfo2().uordblks;
    for (Value& record : records) {
        for (const char* key : {"sampleRate", "bitRate", "stars", "playCount"}) {
            const auto [entry, added] =
                record.dictionary()->insert_or_assign(std::string(key), Value(1));
            if (added) charged += media::RecordMemory::entryBytes(entry->first);
        }
    }
    const double measuredEntries = static_cast<double>(mallinfo2().uordblks - beforeEntries);
    EXPECT_GE(static_cast<double>(charged), measuredEntries * 0.97);
    EXPECT_LE(static_cast<double>(charged), measuredEntries * 1.03);
}

TEST(RecordMemory, ShortTextsLiveInsideTheirStrings) {
    EXPECT_EQ(media::RecordMemory::textBytes(std::string(15, 'x')), 0u);
    EXPECT_EQ(media::RecordMemory::textBytes(std::string(16, 'x')), 32u);
    EXPECT_EQ(media::RecordMemory::textBytes(std::string(300, 'x')), 320u);
    EXPECT_EQ(media::RecordMemory::ownedBytes(Value(7)), 0u);
}

}  // namespace
