#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "MediaLoaderFixture.h"
#include "PhotoDBWriter.h"
#include "media/ArtworkImage.h"
#include "media/PictureCodec.h"

using foundation::Value;

namespace {

// A phone whose photo database holds:
//  100: a JPEG original under "Full Resolution" (the largest size, encoded) and a 2 x 1
//       RGB555 thumbnail;
//  101: only a thumbnail-file picture; 102: a JPEG named in two parts;
//  103: a picture whose recorded size is beyond any picture.
class MediaLoaderPhotoTest : public mediatest::MediaLoaderFixture {
protected:
    void SetUp() override {
        MediaLoaderFixture::SetUp();
        png = *media::PictureCodec::encodePNG({2, 3, std::vector<std::uint8_t>(24, 0x40)});
        const auto pngSize = static_cast<std::uint32_t>(png.size());
        const mediatest::PhotoDatabaseSpec spec{
            .images = {{.id = 100,
                        .subImages = {{.correlationID = 3004,
                                       .offset = 4,
                                       .size = 4,
                                       .width = 2,
                                       .height = 1,
                                       .fileName = u":Thumbs:F3004_1.ithmb"},
                                      {.correlationID = 4006,
                                       .offset = 0,
                                       .size = pngSize,
                                       .width = 2,
                                       .height = 3,
                                       .fileName = u":Full Resolution:2009:IMG_0007.JPG"}}},
                       {.id = 101,
                        .subImages = {{.correlationID = 3004,
                                       .offset = 0,
                                       .size = 4,
                                       .width = 2,
                                       .height = 1,
                                       .fileName = u":Thumbs:F3004_1.ithmb"}}},
                       {.id = 102,
                        .subImages = {{.correlationID = 3004,
                                       .offset = 0,
                                       .size = 4,
                                       .width = 2,
                                       .height = 1,
                                       .fileName = u":x.jpg"}}},
                       {.id = 103,
                        .subImages = {{.correlationID = 3004,
                                       .offset = 0,
                                       .size = 0x7FFFFFFF,
                                       .width = 2,
                                       .height = 1,
                                       .fileName = u":Thumbs:F3004_1.ithmb"}}}},
            .files = {{3004, 4}, {4006, pngSize}}};
        const auto database = mediatest::writePhotoDB(spec);
        put("Photos/Photo Database", std::string(database.begin(), database.end()));
        // Four bytes before the thumbnail: a white pixel and a pure red one (RGB555).
        put("Photos/Thumbs/F3004_1.ithmb", std::string("\0\0\0\0\xFF\x7F\x00\x7C", 8));
        put("Photos/Full Resolution/2009/IMG_0007.JPG", std::string(png.begin(), png.end()));
        fake = std::make_shared<testsupport::FakeMobileDevice>(root("PHOTOS"), "PHOTOS");
        loader = loaderOf(std::make_shared<iMobileMediaDevice>(fake));
        loadAndMatch(*loader);
        fake->resetCallCounts();
    }
    void put(const std::string& path, const std::string& bytes) {
        const std::filesystem::path file = folder / ("PHOTOS/" + path);
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << bytes;
    }
    const Value& subImage(int id, int correlationID) {
        photos = loader->allPodPhotos();
        return photos["ImageList"][std::to_string(id)]["subImages"][std::to_string(correlationID)];
    }

    media::ArtworkImage::Bytes png;
    Value photos;
    std::shared_ptr<testsupport::FakeMobileDevice> fake;
    std::shared_ptr<media::MediaLoader> loader;
};

TEST_F(MediaLoaderPhotoTest, PhotosAreDecodedAtTheirLargestOrThumbnailSize) {
    const auto full = loader->fullImageByID(100);
    ASSERT_TRUE(full);
    EXPECT_EQ(std::make_pair(full->width, full->height), std::make_pair(2, 3));
    EXPECT_EQ(full->pixel(1, 2)[0], 0x40);
    const auto thumbnail = loader->imageByIDFullsize(100, false);
    ASSERT_TRUE(thumbnail);
    EXPECT_EQ(std::make_pair(thumbnail->width, thumbnail->height), std::make_pair(2, 1));
    EXPECT_EQ(std::vector<int>(thumbnail->pixel(1, 0), thumbnail->pixel(1, 0) + 4),
              (std::vector<int>{248, 0, 0, 255}));
    EXPECT_FALSE(loader->fullImageByID(999));
}

TEST_F(MediaLoaderPhotoTest, APhotosFileNameIsTheLastPartOfAFullResolutionOrJPEGName) {
    EXPECT_EQ(loader->imageNameByID(100), "IMG_0007.JPG");
    EXPECT_EQ(loader->imageNameByID(101), std::nullopt);  // an image file of thumbnails
    EXPECT_EQ(loader->imageNameByID(102), std::nullopt);  // fewer than three parts
    EXPECT_EQ(loader->imageNameByID(999), std::nullopt);
    EXPECT_EQ(media::ArtworkImage::photoFileName(Value::dict(
                  {{"subImages",
                    Value::dict({{"1", Value::dict({{"correlationID", 1u},
                                                    {"imageSize", 9u},
                                                    {"mhodString", ":a:Full Resolution:b"}})}})}})),
              "b");
}

TEST_F(MediaLoaderPhotoTest, PictureBytesAreReadWhereTheDatabasePointsAndWithinTheLimit) {
    EXPECT_EQ(loader->dataForImage(subImage(100, 3004)),
              (std::vector<std::uint8_t>{0xFF, 0x7F, 0x00, 0x7C}));
    EXPECT_EQ(loader->dataForImage(subImage(100, 4006)), png);
    EXPECT_EQ(loader->photoDataAtPath("/Photos/Full Resolution/2009/IMG_0007.JPG"), png);
    EXPECT_EQ(loader->photoDataAtPath("/Photos/none.jpg"), std::nullopt);
    EXPECT_EQ(fake->callCount("readFileAtPathOffsetLength"), 3);

    // A recorded size or a file beyond any picture is never read.
    fake->resetCallCounts();
    EXPECT_EQ(loader->dataForImage(subImage(103, 3004)), std::nullopt);
    EXPECT_FALSE(loader->fullImageByID(103));
    std::filesystem::resize_file(folder / "PHOTOS/Photos/Thumbs/F3004_1.ithmb",
                                 media::ArtworkImage::kMaxPictureBytes + 1);
    EXPECT_EQ(loader->photoDataAtPath("/Photos/Thumbs/F3004_1.ithmb"), std::nullopt);
    EXPECT_EQ(fake->callCount("readFileAtPathOffsetLength"), 0);
    // A name that climbs out of the photo folder reads nothing either.
    Value outside = subImage(101, 3004);
    outside.set("mhodString", ":..:..:iTunes_Control:x");
    EXPECT_EQ(loader->dataForImage(outside), std::nullopt);
}

// The largest picture size of the photo database's image files, and its file's id, are kept
// for the whole program: of two files of the same largest size, the first one listed.
class MediaLoaderLargestPhotoTest : public mediatest::MediaLoaderFixture {
protected:
    void load(const std::string& id, const std::vector<mediatest::FileSpec>& files) {
        const auto database = mediatest::writePhotoDB({.files = files});
        const std::filesystem::path file = folder / (id + "/Photos/Photo Database");
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(database.data()),
                   static_cast<std::streamsize>(database.size()));
        loadAndMatch(*loaderOf(phone(id)));
    }
};

TEST_F(MediaLoaderLargestPhotoTest, TheFirstOfEqualSizesWins) {
    load("EQUAL", {{3004, 500}, {1019, 900}, {1020, 900}, {3005, 100}});
    EXPECT_EQ(media::MediaLoader::globalFullsize(), 900u);
    EXPECT_EQ(media::MediaLoader::globalFullSizeCorrelationID(), 1019u);
    // A database without image files gives 0 for both.
    load("NONE", {});
    EXPECT_EQ(media::MediaLoader::globalFullsize(), 0u);
    EXPECT_EQ(media::MediaLoader::globalFullSizeCorrelationID(), 0u);
}

}  // namespace
