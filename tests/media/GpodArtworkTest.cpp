#ifdef ORVANDEL_HAVE_GPOD

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "GpodFixtures.h"
#include "foundation/ScratchFolder.h"
#include "media/ArtworkImage.h"
#include "media/PhotoDBReader.h"

namespace {

using foundation::Value;
using media::ArtworkImage;
using media::PhotoDBReader;
using namespace mediatest;

GdkPixbuf* solidPixbuf(guint32 rgba, int size) {
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, size, size);
    gdk_pixbuf_fill(pixbuf, rgba);
    return pixbuf;
}

// The picture as a PNG photo of the database; takes the pixbuf.
Itdb_Artwork* addGpodPhoto(Itdb_PhotoDB* photodb, GdkPixbuf* pixbuf) {
    gchar* png = nullptr;
    gsize size = 0;
    gdk_pixbuf_save_to_buffer(pixbuf, &png, &size, "png", nullptr, nullptr);
    g_object_unref(pixbuf);
    Itdb_Artwork* photo = itdb_photodb_add_photo_from_data(
        photodb, reinterpret_cast<const guchar*>(png), size, -1, 0, nullptr);
    g_free(png);
    return photo;
}

// Reads byte ranges of files below the fake device's mount point.
ArtworkImage::Device deviceAt(const std::string& mountPoint) {
    ArtworkImage::Device device{.controlFolder = "/iPod_Control"};
    device.readRange = [mountPoint](const std::string& path, std::uint64_t offset,
                                    std::uint32_t length) -> std::optional<ArtworkImage::Bytes> {
        std::ifstream in(mountPoint + path, std::ios::binary);
        if (!in.seekg(static_cast<std::streamoff>(offset))) return std::nullopt;
        ArtworkImage::Bytes bytes(length);
        if (!in.read(reinterpret_cast<char*>(bytes.data()), length)) return std::nullopt;
        return bytes;
    };
    return device;
}

class GpodArtworkTest : public testing::Test {
protected:
    void SetUp() override {
        GError* error = nullptr;
        ASSERT_TRUE(itdb_init_ipod(folder.path().c_str(), "MA446", "Test iPod", &error))
            << (error ? error->message : "");
    }
    foundationtest::ScratchFolder folder;
};

TEST_F(GpodArtworkTest, RedThumbnailWrittenByGpodDecodesToRed) {
    GError* error = nullptr;
    ItdbPtr itdb(itdb_parse(folder.path().c_str(), &error));
    ASSERT_TRUE(itdb) << (error ? error->message : "");
    Itdb_Track* track = addGpodTrack(itdb.get(), "Red", ":iPod_Control:Music:F00:R.mp3",
                                     "MPEG audio file", ITDB_MEDIATYPE_AUDIO);
    GdkPixbuf* red = solidPixbuf(0xFF0000FF, 240);
    ASSERT_TRUE(itdb_track_set_thumbnails_from_pixbuf(track, red));
    g_object_unref(red);
    ASSERT_TRUE(itdb_write(itdb.get(), &error)) << (error ? error->message : "");

    PhotoDBReader reader(folder / "iPod_Control/Artwork/ArtworkDB");
    reader.load();
    const Value& artworks = reader.photos();
    ASSERT_EQ(artworks["ImageList"].size(), 1u);
    ASSERT_GT(artworks["CorrelationInfo"].size(), 0u);
    const auto& [id, image] = *artworks["ImageList"].dictionary()->begin();
    // The image names its track by the track's whole 64-bit id.
    ASSERT_GT(track->dbid, 0xFFFFFFFFull);
    EXPECT_EQ(image["songID"].toUInt64(), track->dbid);
    ASSERT_GT(image["subImages"].size(), 0u);

    const auto device = deviceAt(folder.path());
    for (bool fullsize : {true, false}) {
        auto picture =
            ArtworkImage::artworkForTrackByID(std::stoll(id), fullsize, artworks, device);
        ASSERT_TRUE(picture) << "fullsize " << fullsize;
        const auto* middle = picture->pixel(picture->width / 2, picture->height / 2);
        EXPECT_EQ(middle[0], 255);
        EXPECT_EQ(middle[1], 0);
        EXPECT_EQ(middle[2], 0);
        EXPECT_EQ(middle[3], 255);
    }
    // Every stored size names its image file and lies inside it.
    for (const auto& [key, sub] : *image["subImages"].dictionary()) {
        auto path = ArtworkImage::artworkFilePath(sub, device);
        ASSERT_TRUE(path) << key;
        const auto fileSize = std::filesystem::file_size(folder.path() + *path);
        EXPECT_LE(*sub["iThumbOffSet"].toUInt64() + *sub["imageSize"].toUInt64(), fileSize);
    }
}

TEST_F(GpodArtworkTest, PhotoDatabaseWrittenByGpodListsPhotosAndAlbums) {
    Itdb_PhotoDB* photodb = itdb_photodb_create(folder.path().c_str());
    ASSERT_NE(photodb, nullptr);
    Itdb_PhotoAlbum* album = itdb_photodb_photoalbum_create(photodb, "Holiday", -1);
    GError* error = nullptr;
    for (guint32 colour : {0x00FF00FFu, 0x0000FFFFu}) {
        Itdb_Artwork* photo = addGpodPhoto(photodb, solidPixbuf(colour, 320));
        ASSERT_NE(photo, nullptr);
        itdb_photodb_photoalbum_add_photo(photodb, album, photo, -1);
    }
    ASSERT_TRUE(itdb_photodb_write(photodb, &error)) << (error ? error->message : "");
    itdb_photodb_free(photodb);

    PhotoDBReader reader(folder / "Photos/Photo Database");
    reader.load();
    const Value& photos = reader.photos();
    ASSERT_EQ(photos["ImageList"].size(), 2u);
    bool sawHoliday = false;
    for (const auto& entry : *photos["AlbumList"].array()) {
        if (entry["name"] == Value("Holiday")) {
            sawHoliday = true;
            EXPECT_EQ(entry["items"].size(), 2u);
            for (const auto& item : *entry["items"].array()) {
                EXPECT_FALSE(photos["ImageList"][std::to_string(*item.toUInt64())].isNil());
            }
        }
    }
    EXPECT_TRUE(sawHoliday);
    const auto device = deviceAt(folder.path());
    int channel = 1;  // green first, then blue, as added
    for (const auto& [id, image] : *photos["ImageList"].dictionary()) {
        EXPECT_GT(image["subImages"].size(), 0u) << id;
        for (bool fullsize : {true, false}) {
            auto picture = ArtworkImage::imageByID(std::stoll(id), fullsize, photos, device);
            ASSERT_TRUE(picture) << id << " fullsize " << fullsize;
            const auto* p = picture->pixel(picture->width / 2, picture->height / 2);
            for (int c = 0; c < 3; ++c) {
                if (c == channel) {
                    EXPECT_GE(p[c], 250) << id;
                } else {
                    EXPECT_LE(p[c], 5) << id;
                }
            }
        }
        ++channel;
        for (const auto& [key, sub] : *image["subImages"].dictionary()) {
            EXPECT_TRUE(sub["mhodString"].isString()) << key;
        }
    }
}

// Each model stores photos in its own formats: little- and big-endian RGB565 (1013, 1023),
// UYVY (1019) and I420 (1067) among them. Every stored size must come out red, and the image
// record's fields must be read where libgpod writes them.
TEST(GpodPhotoFormats, EveryStoredSizeOfEachModelDecodesToTheColourWritten) {
    // Seconds from 1904, when the database's clock starts, to 1970.
    constexpr double kFrom1904 = 2082844800;
    for (const char* model : {"xA079", "xA004", "xB029"}) {
        foundationtest::ScratchFolder folder;
        makeGpodDevice(folder.path(), model);
        Itdb_PhotoDB* photodb = itdb_photodb_create(folder.path().c_str());
        ASSERT_NE(photodb, nullptr) << model;
        GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 800, 600);
        gdk_pixbuf_fill(pixbuf, 0xFF0000FF);
        Itdb_Artwork* photo = addGpodPhoto(photodb, pixbuf);
        ASSERT_NE(photo, nullptr) << model;
        photo->rating = 60;
        photo->creation_date = 1000000000;
        photo->digitized_date = 1100000000;
        photo->artwork_size = 123456;
        ASSERT_TRUE(itdb_photodb_write(photodb, nullptr)) << model;
        itdb_photodb_free(photodb);

        PhotoDBReader reader(folder / "Photos/Photo Database");
        reader.load();
        const Value& photos = reader.photos();
        ASSERT_EQ(photos["ImageList"].size(), 1u) << model;
        const Value& image = photos["ImageList"].dictionary()->begin()->second;
        EXPECT_EQ(image["rating"], Value(60u)) << model;
        EXPECT_EQ(image["tempDate"], Value(foundation::Date{1000000000 + kFrom1904})) << model;
        EXPECT_EQ(image["digitizedDate"], Value(foundation::Date{1100000000 + kFrom1904})) << model;
        EXPECT_EQ(image["sourceImageSize"], Value(123456u)) << model;

        const auto device = deviceAt(folder.path());
        ASSERT_GE(image["subImages"].size(), 2u) << model;
        for (const auto& [format, sub] : *image["subImages"].dictionary()) {
            const std::string label = std::string(model) + " format " + format;
            const auto path = ArtworkImage::photoFilePath(sub);
            ASSERT_TRUE(path) << label;
            const auto bytes = ArtworkImage::dataForImage(sub, *path, device.readRange);
            ASSERT_TRUE(bytes) << label;
            const auto picture = ArtworkImage::photoFromBytes(
                sub, *bytes, static_cast<std::uint32_t>(std::stoul(format)));
            ASSERT_TRUE(picture) << label;
            const auto* p = picture->pixel(picture->width / 2, picture->height / 2);
            EXPECT_GE(p[0], 220) << label;
            EXPECT_LE(p[1], 40) << label;
            EXPECT_LE(p[2], 40) << label;
        }
    }
}

// libgpod writes each image file's name as a data record of type 3 that names its text's
// encoding after the text's length: the reader of such records gives the names the walk finds.
TEST(GpodPhotoFormats, FileNameRecordsNameTheirOwnEncoding) {
    foundationtest::ScratchFolder folder;
    makeGpodDevice(folder.path(), "xA079");
    Itdb_PhotoDB* photodb = itdb_photodb_create(folder.path().c_str());
    ASSERT_NE(photodb, nullptr);
    ASSERT_NE(addGpodPhoto(photodb, solidPixbuf(0x00FF00FF, 640)), nullptr);
    ASSERT_TRUE(itdb_photodb_write(photodb, nullptr));
    itdb_photodb_free(photodb);

    std::ifstream in(folder / "Photos/Photo Database", std::ios::binary);
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    PhotoDBReader reader("unused");
    reader.loadBytes(bytes);
    std::set<std::string> walked;
    for (const auto& [id, image] : *reader.photos()["ImageList"].dictionary()) {
        for (const auto& [format, sub] : *image["subImages"].dictionary()) {
            walked.insert(sub["mhodString"].stringOr());
        }
    }
    std::set<std::string> read;
    for (std::size_t at = 0; at + 24 <= bytes.size(); ++at) {
        const media::ByteCursor::Bytes rest(bytes.data() + at, bytes.size() - at);
        if (!media::ByteCursor::hasTag(rest, "mhod") || media::ByteCursor::u16(rest, 12) != 3) {
            continue;
        }
        media::ByteCursor cursor(rest);
        const auto name = PhotoDBReader::readMHODString(cursor);
        ASSERT_TRUE(name) << "at " << at;
        read.insert(*name);
    }
    EXPECT_FALSE(read.empty());
    EXPECT_EQ(read, walked);
}

}  // namespace

#endif
