#include <gtest/gtest.h>

#include <limits>

#include "media/iPodPlaylist.h"

namespace {

using foundation::Value;
using media::iPodPlaylist;

TEST(iPodPlaylistTest, TrackIdsReadAsSigned64BitFromNumbersAndDecimalTexts) {
    const std::pair<Value, std::int64_t> cases[] = {
        {Value(std::int64_t{-5}), -5},
        {Value(std::uint64_t{4294967295u}), 4294967295},
        {Value("4294967295"), 4294967295},
        {Value("  42abc"), 42},
        {Value("-9223372036854775808"), std::numeric_limits<std::int64_t>::min()},
        {Value("99999999999999999999"), std::numeric_limits<std::int64_t>::max()},
        {Value("-99999999999999999999"), std::numeric_limits<std::int64_t>::min()},
        {Value("x"), 0},
        {Value(), 0},
    };
    for (const auto& [id, expected] : cases) {
        EXPECT_EQ(iPodPlaylist::trackIDValue(id), expected) << id.stringOr("(number)");
    }
}

}  // namespace
