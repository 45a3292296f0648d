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

TEST(iPodPlaylistTest, KeepsItsOwnCopyOfGivenIds) {
    std::vector<Value> given{Value(1), Value("2")};
    iPodPlaylist playlist("Mix", given, 0, 100);
    given.push_back(Value(3));
    EXPECT_EQ(playlist.trackIDs().size(), 2u);
    auto made = iPodPlaylist::CreateNewPlaylistWithName("Library", 1, 1);
    EXPECT_EQ(made->pid(), 0);
    EXPECT_FALSE(made->isHidden() || made->isSmart() || made->isGenius() || made->isMaster());
    EXPECT_EQ(iPodPlaylist::CreateNewPlaylistWithName("P", -7, 12, 101)->pid(), -7);
}

}  // namespace
