#include <gtest/gtest.h>

#include "PhotoDBWriter.h"
#include "media/PhotoDBReader.h"

namespace {

using foundation::Value;
using media::PhotoDBReader;
using namespace mediatest;

PhotoDatabaseSpec sampleSpec() {
    PhotoDatabaseSpec spec;
    spec.images.push_back({.id = 100,
                           .songID = 0x500000034ull,
                           .rating = 60,
                           .created = 1000000,
                           .sourceSize = 4321,
                           .subImages = {{.correlationID = 1028,
                                          .offset = 0,
                                          .size = 20000,
                                          .width = 100,
                                          .height = 100,
                                          .fileName = u":F1028_1.ithmb"},
                                         {.correlationID = 1029,
                                          .offset = 80000,
                                          .size = 80000,
                                          .width = 200,
                                          .height = 200,
                                          .horizontalPadding = 2,
                                          .verticalPadding = 1,
                                          .size2 = 7,
                                          .fileName = u":F1029_1.ithmb"}}});
    spec.images.push_back({.id = 101,
                           .subImages = {{.correlationID = 1028,
                                          .offset = 20000,
                                          .size = 20000,
                                          .fileName = u":F1028_1.ithmb"}}});
    spec.albums.push_back({"Photo Library", {100, 101}});
    spec.albums.push_back({"", {101}});
    spec.files.push_back({1028, 20000});
    spec.files.push_back({1029, 80000});
    return spec;
}

Value readBytes(const Bytes& bytes) {
    PhotoDBReader reader("unused");
    reader.loadBytes(bytes);
    return reader.photos();
}

TEST(PhotoDBReaderTest, ReadsImagesAlbumsAndFilesOfOurOwnWriter) {
    auto spec = sampleSpec();
    spec.unknownSection = true;
    const Value photos = readBytes(writePhotoDB(spec));

    const Value& images = photos["ImageList"];
    ASSERT_EQ(images.size(), 2u);  // the image in the unknown section is not read
    const Value& image = images["100"];
    EXPECT_EQ(image["subImages"].size(), 2u);
    EXPECT_EQ(image["subImages"]["1029"], Value::dict({{"correlationID", 1029u},
                                                       {"iThumbOffSet", 80000u},
                                                       {"imageSize", 80000u},
                                                       {"imageWidth", 200u},
                                                       {"imageHeight", 200u},
                                                       {"horizontalPadding", 2u},
                                                       {"verticalPadding", 1u},
                                                       {"imageSize2", 7u},
                                                       {"mhodString", ":F1029_1.ithmb"}}));
    EXPECT_EQ(image["iid"], Value(100u));
    EXPECT_EQ(image["songID"], Value(std::uint64_t{0x500000034ull}));
    EXPECT_EQ(image["sourceImageSize"], Value(4321u));
    EXPECT_EQ(image["rating"], Value(60u));
    EXPECT_EQ(image["tempDate"], Value(foundation::Date{1000000}));
    EXPECT_EQ(image["digitizedDate"], Value(foundation::Date{1000001}));

    const Value& albums = photos["AlbumList"];
    ASSERT_EQ(albums.size(), 2u);
    EXPECT_EQ(albums[0]["name"], Value("Photo Library"));
    EXPECT_EQ(albums[0]["items"], Value::list({Value(100u), Value(101u)}));
    EXPECT_TRUE(albums[1]["name"].isNil());

    EXPECT_EQ(photos["CorrelationInfo"],
              Value::list({Value::dict({{"correlationID", 1028u}, {"imageSize", 20000u}}),
                           Value::dict({{"correlationID", 1029u}, {"imageSize", 80000u}})}));
}

TEST(PhotoDBReaderTest, LaterChildrenWinAndStringTypesPickTheirEncoding) {
    // One image whose two sub-images share an id, the second of which has two name records.
    SubImageSpec first{.correlationID = 1028, .size = 1, .fileName = u"first"};
    Bytes second = header("mhni", 76);
    put32(second, 12, 2);
    put32(second, 16, 1028);
    put32(second, 24, 2);
    append(second, stringRecord(3, utf16le(u"utf16 \u00e9"), 2));
    append(second, stringRecord(1, Bytes{'l', 'a', 't', 'e', 'r'}, 1));
    Bytes image = header("mhii", 152);
    put32(image, 12, 4);
    put32(image, 16, 7);
    append(image, dataRecord(2, nameRecord(first)));
    append(image, dataRecord(2, second));
    append(image, stringRecord(4, Bytes{'n', 'o'}, 1));    // no encoding: dropped
    append(image, stringRecord(1, Bytes{0xC3, 0x28}, 1));  // invalid UTF-8: dropped
    const Value photos = readBytes([&] {
        Bytes head = header("mhfd", 132);
        put32(head, 20, 1);
        return withTotal(head, dataSet(1, list("mhli", 1, withTotal(image, {}))));
    }());
    const Value& sub = photos["ImageList"]["7"]["subImages"]["1028"];
    EXPECT_EQ(sub["imageSize"], Value(2u));
    EXPECT_EQ(sub["mhodString"], Value("later"));
    EXPECT_EQ(photos["ImageList"]["7"]["subImages"].size(), 1u);

    // A UTF-16 text alone.
    auto spec = sampleSpec();
    spec.images[0].subImages[0].fileName = u"caf\u00e9";
    EXPECT_EQ(readBytes(writePhotoDB(spec))["ImageList"]["100"]["subImages"]["1028"]["mhodString"],
              Value("caf\u00e9"));
}

TEST(PhotoDBReaderTest, EmptyAndMissingInputsGiveAnEmptyResult) {
    Bytes noSections = header("mhfd", 132);
    put32(noSections, 20, 0);
    Bytes negative = header("mhfd", 132);
    put32(negative, 20, 0x80000000);
    Bytes shortHeader = header("mhfd", 16);
    for (const Bytes& input : {Bytes{}, noSections, negative, shortHeader}) {
        EXPECT_EQ(readBytes(input), Value(foundation::Dictionary{}));
    }
    PhotoDBReader missing("/nonexistent/ArtworkDB");
    missing.load();
    EXPECT_EQ(missing.photos(), Value(foundation::Dictionary{}));
}

TEST(PhotoDBReaderTest, RefusesDeepNestingAndKeepsWhatCameBeforeABadRecord) {
    // Name records nested far deeper than any database does.
    Bytes nested = nameRecord({.correlationID = 1, .fileName = u"deep"});
    for (int i = 0; i < 40; ++i) {
        Bytes outer = header("mhni", 76);
        put32(outer, 12, 1);
        put32(outer, 16, 1);
        nested = withTotal(outer, dataRecord(2, nested));
    }
    Bytes image = header("mhii", 152);
    put32(image, 12, 1);
    put32(image, 16, 5);
    auto deep = [&] {
        Bytes head = header("mhfd", 132);
        put32(head, 20, 1);
        return withTotal(head,
                         dataSet(1, list("mhli", 1, withTotal(image, dataRecord(2, nested)))));
    }();
    EXPECT_EQ(readBytes(deep)["ImageList"]["5"]["subImages"]["1"]["mhodString"], Value());

    // The second image's header length is below its fixed part: the first image stays.
    auto spec = sampleSpec();
    Bytes bytes = writePhotoDB(spec);
    const std::size_t firstImage = 132 + 96 + 92;
    const std::size_t secondImage = firstImage + get32(bytes, firstImage + 8);
    put32(bytes, secondImage + 4, 20);
    const Value photos = readBytes(bytes);
    EXPECT_EQ(photos["ImageList"].size(), 1u);
    EXPECT_EQ(photos["AlbumList"].size(), 2u);
}

TEST(PhotoDBReaderTest, SurvivesTruncationAtEveryOffsetAndRandomMutation) {
    readEveryCutAndMutation(writePhotoDB(sampleSpec()), 21, [](const Bytes& bytes, bool cut) {
        const Value photos = readBytes(bytes);
        if (cut) {
            EXPECT_LE(photos["ImageList"].size(), 2u) << bytes.size();
        }
    });
}

}  // namespace
