#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "MediaLibraryFixtures.h"
#include "data/db/SqlDatabase.h"
#include "data/db/SqlResultSet.h"
#include "foundation/ScratchFolder.h"
#include "media/ByteCursor.h"
#include "media/MediaLoader.h"
#include "media/iTunesLibrary.h"
#include "media/iTunesWrapper.h"

using foundation::Value;

namespace {

// The loader's readers of one row or one text need no device.
class MediaLoaderReadersTest : public testing::Test {
protected:
    std::shared_ptr<SqlResultSet> rowsOf(const std::string& sql, const std::string& query) {
        const std::string path = folder / "rows.sqlite";
        mediatest::writeDatabase(path, sql);
        db = SqlDatabase::databaseWithPath(path);
        EXPECT_TRUE(db->open());
        auto rows = db->executeQuery(query);
        EXPECT_TRUE(rows && rows->next());
        return rows;
    }

    foundationtest::ScratchFolder folder;
    std::shared_ptr<SqlDatabase> db;
    media::iTunesWrapper noScript{nullptr};
    media::iTunesLibrary noLibrary{noScript};
    std::shared_ptr<media::MediaLoader> loader =
        media::MediaLoader::initWithDevice(nullptr, &noLibrary);
};

TEST_F(MediaLoaderReadersTest, AMediaLibraryRowIsReadByItsOwnColumns) {
    auto rows = rowsOf(
        "CREATE TABLE t(item_pid, media_kind, title, item_artist, album, total_time_ms, "
        "is_podcast, is_audible_audio_book, file_size, location, user_rating);"
        "INSERT INTO t VALUES(255, 6, NULL, 'Band', 'Record', 61000, 0, 1, 4096, 'a.mp3', 80);"
        "INSERT INTO t VALUES(-2, 1, 'Song', '', '', 0, 0, 0, 0, '', 0);",
        "SELECT * FROM t;");
    const Value podcast = loader->loadTrackInfoIOS5(*rows);
    EXPECT_EQ(podcast["pid"], Value(std::int64_t{255}));
    EXPECT_EQ(podcast["pidstr"], Value("FF"));
    EXPECT_EQ(podcast["title"], Value(""));  // NULL reads as empty text
    EXPECT_EQ(podcast["artist"], Value("Band"));
    EXPECT_EQ(podcast["length"], Value(61000));
    EXPECT_EQ(podcast["is_podcast"], Value(true));  // media kind 6
    EXPECT_EQ(podcast["is_song"], Value(false));
    EXPECT_EQ(podcast["is_audio_book"], Value(true));
    EXPECT_EQ(podcast["filename"], Value("a.mp3"));
    EXPECT_EQ(podcast["stars"], Value(80));
    ASSERT_TRUE(rows->next());
    const Value song = loader->loadTrackInfoIOS5(*rows);
    EXPECT_EQ(song["pidstr"], Value("FFFFFFFFFFFFFFFE"));
    EXPECT_EQ(song["is_song"], Value(true));  // media kind 1
    EXPECT_EQ(song["is_podcast"], Value(false));
}

TEST_F(MediaLoaderReadersTest, ALibraryItdbRowIsReadByItsOwnColumns) {
    auto rows = rowsOf(
        "CREATE TABLE item(pid, title, total_time_ms, is_movie, is_voice_memo, artwork_status, "
        "grouping);"
        "INSERT INTO item VALUES(4294967296000, 'Film', 8000000000, 1, 0, 2, 'Set');",
        "SELECT * FROM item;");
    const auto record = loader->loadTrackInfo(*rows);
    ASSERT_TRUE(record);
    EXPECT_EQ((*record)["pid"], Value(std::int64_t{4294967296000}));
    EXPECT_EQ((*record)["pidstr"], Value("3E800000000"));
    EXPECT_EQ((*record)["length"], Value(std::int64_t{8000000000}));  // 64-bit
    EXPECT_EQ((*record)["is_movie"], Value(true));
    EXPECT_EQ((*record)["is_voice_memo"], Value(false));
    EXPECT_EQ((*record)["artwork_status"], Value(2));
    EXPECT_EQ((*record)["grouping"], Value("Set"));
}

TEST_F(MediaLoaderReadersTest, ADataObjectsTextIsReadAsUtf16OnlyWhenWhole) {
    const std::vector<std::uint8_t> bytes = {'S', 0, 0xE9, 0, 0x3D, 0xD8, 0x00, 0xDE, 'x', 0};
    media::ByteCursor cursor(bytes);
    EXPECT_EQ(loader->readMHODStringLength(cursor, 8), "S\u00e9\U0001F600");
    EXPECT_EQ(cursor.position(), 8u);
    // Past the end, or an odd count: nothing, and the cursor stays.
    EXPECT_EQ(loader->readMHODStringLength(cursor, 4), std::nullopt);
    EXPECT_EQ(loader->readMHODStringLength(cursor, 1), std::nullopt);
    EXPECT_EQ(cursor.position(), 8u);
    EXPECT_EQ(loader->readMHODStringLength(cursor, 2), "x");
    EXPECT_EQ(loader->readMHODStringLength(cursor, 0), "");
}

// The picture rules and decoders the loader offers need no device either.
TEST_F(MediaLoaderReadersTest, ThePictureRulesAndDecodersAnswerByTheirOwnValues) {
    auto file = [](std::uint32_t id, std::uint32_t size) {
        return Value::dict({{"correlationID", id}, {"imageSize", size}});
    };
    using media::MediaLoader;
    EXPECT_EQ(MediaLoader::correlationIDForThumbnail(Value::list({file(3143, 30000), file(3006, 500)})),
              3006u);
    EXPECT_EQ(MediaLoader::correlationIDForThumbnail(Value::list({file(3143, 30000)})), 0u);
    EXPECT_EQ(MediaLoader::correlationIDForThumbnail(Value::list({file(3004, 1), file(3006, 90000)})),
              3004u);
    EXPECT_EQ(MediaLoader::correlationIDForFullsize(Value::list({file(3006, 5), file(3007, 9)})),
              3007u);
    // No file: the photo database's largest of the last load.
    EXPECT_EQ(MediaLoader::correlationIDForFullsize(Value(foundation::Array{})),
              MediaLoader::globalFullSizeCorrelationID());
    const Value image = Value::dict({{"subImages", Value::dict({{"1", file(1, 10)},
                                                                 {"2", file(2, 30)},
                                                                 {"3", file(3, 30)}})}});
    EXPECT_EQ(MediaLoader::fullsizeCorrelationIDForPhoto(image), 2u);

    const std::vector<std::uint8_t> white565 = {0xFF, 0xFF, 0x00, 0x00};  // a row of 1, stride 2
    const auto rgb565 = MediaLoader::ImageFromRGB565WidthHeight(white565, 1, 1);
    ASSERT_TRUE(rgb565);
    EXPECT_EQ(std::vector<std::uint8_t>(rgb565->pixel(0, 0), rgb565->pixel(0, 0) + 4),
              (std::vector<std::uint8_t>{255, 255, 255, 255}));
    const std::vector<std::uint8_t> white555 = {0xFF, 0x7F, 0x00, 0x00};
    const auto rgb555 = MediaLoader::ImageFromRGB555WidthHeight(white555, 1, 1);
    ASSERT_TRUE(rgb555);
    EXPECT_EQ(std::vector<std::uint8_t>(rgb555->pixel(0, 0), rgb555->pixel(0, 0) + 4),
              (std::vector<std::uint8_t>{248, 248, 248, 255}));
    // Only the bytes the data size gives count.
    const std::vector<std::uint8_t> uyvy = {128, 16, 128, 235};
    EXPECT_TRUE(MediaLoader::ImageFromUYVYDataSizeWidthHeight(uyvy, 4, 2, 1));
    EXPECT_FALSE(MediaLoader::ImageFromUYVYDataSizeWidthHeight(uyvy, 2, 2, 1));
}

}  // namespace
