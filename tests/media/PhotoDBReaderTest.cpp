#include <gtest/gtest.h>

#include "PhotoDBWriter.h"
#include "logging/CapturingLogger.h"
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
    const Value photos =
        readBytes(fileOf("mhfd", 132, 1, listSet(1, "mhli", 1, withTotal(image, {}))));
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

// An image name with two or more children is unusual enough to say so, with its count; all
// its children are read all the same.
TEST(PhotoDBReaderTest, AnImageNameWithSeveralChildrenIsLoggedWithTheirCount) {
    const auto captured = std::make_shared<CapturingLogger>();
    const auto savedLevel = lgLogLevel.load();
    lgLogLevel.store(LgLogLevelAll);
    LgLog::sharedInstance().addLogger(captured);
    std::vector<std::string> names;
    for (std::uint32_t children = 0; children <= 3; ++children) {
        Bytes name = header("mhni", 76);
        put32(name, 12, children);
        put32(name, 16, 1028);
        for (std::uint32_t i = 0; i < children; ++i) {
            append(name, stringRecord(1, Bytes{static_cast<std::uint8_t>('a' + i)}, 1));
        }
        Bytes image = header("mhii", 152);
        put32(image, 12, 1);
        put32(image, 16, 7);
        append(image, dataRecord(2, name));
        const Value photos =
            readBytes(fileOf("mhfd", 132, 1, listSet(1, "mhli", 1, withTotal(image, {}))));
        names.push_back(
            photos["ImageList"]["7"]["subImages"]["1028"]["mhodString"].stringOr("none"));
    }
    LgLog::sharedInstance().flushLog();
    LgLog::sharedInstance().removeLogger(captured);
    lgLogLevel.store(savedLevel);
    EXPECT_EQ(names, (std::vector<std::string>{"none", "a", "b", "c"}));
    std::vector<std::string> warnings;
    for (const auto& text : captured->texts()) {
        if (const auto at = text.find("Unexpected"); at != std::string::npos)
            warnings.push_back(text.substr(at));
    }
    EXPECT_EQ(warnings, (std::vector<std::string>{"Unexpected Number of MHNI child nodes!! 2",
                                                  "Unexpected Number of MHNI child nodes!! 3"}));
}

// The record readers the walk has no use for: a data record that names its text's encoding,
// and the header of an "mhaf" record.
TEST(PhotoDBReaderTest, AStringRecordIsReadInTheEncodingItNames) {
    auto readString = [](const Bytes& bytes, std::size_t* end = nullptr) {
        media::ByteCursor cursor(bytes);
        auto text = PhotoDBReader::readMHODString(cursor);
        if (end) *end = cursor.position();
        return text;
    };
    const Bytes utf16 = stringRecord(3, utf16le(u"caf\u00e9"), 2);
    std::size_t end = 0;
    EXPECT_EQ(readString(utf16, &end), "caf\u00e9");
    EXPECT_EQ(end, utf16.size());
    const Bytes eight{'c', 'a', 'f', 0xC3, 0xA9};
    EXPECT_EQ(readString(stringRecord(3, eight, 1)), "caf\u00e9");
    EXPECT_EQ(readString(stringRecord(3, eight, 0)), "caf\u00e9");
    // The record's type names no encoding: only its own number counts.
    EXPECT_EQ(readString(stringRecord(3, utf16le(u"x"), 3)), std::nullopt);  // "Wrong encoding"
    EXPECT_EQ(readString(stringRecord(3, Bytes{0xC3, 0x28}, 1)), std::nullopt);
    // Other types give no text, and the reading goes on after the whole record.
    const Bytes other = stringRecord(1, eight, 1);
    EXPECT_EQ(readString(other, &end), std::nullopt);
    EXPECT_EQ(end, other.size());
    Bytes both = other;
    append(both, utf16);
    media::ByteCursor cursor(both);
    EXPECT_EQ(PhotoDBReader::readMHODString(cursor), std::nullopt);
    EXPECT_EQ(PhotoDBReader::readMHODString(cursor), "caf\u00e9");
    EXPECT_TRUE(cursor.atEnd());
    // A string longer than its record, a record longer than the bytes, a header too short.
    Bytes longer = utf16;
    put32(longer, 24, 1000);
    EXPECT_EQ(readString(longer), std::nullopt);
    EXPECT_EQ(readString(Bytes(utf16.begin(), utf16.end() - 1), &end), std::nullopt);
    EXPECT_EQ(end, 0u);
    Bytes shortHeader = utf16;
    put32(shortHeader, 4, 20);
    EXPECT_EQ(readString(shortHeader), std::nullopt);

    Bytes mhaf = header("mhaf", 40);
    append(mhaf, Bytes{1, 2, 3});
    media::ByteCursor afterHeader(mhaf);
    EXPECT_EQ(PhotoDBReader::readMHAF(afterHeader), Value(foundation::Dictionary{}));
    EXPECT_EQ(afterHeader.position(), 40u);
    for (const Bytes& bad : {header("mhaf", 8), Bytes(mhaf.begin(), mhaf.begin() + 20)}) {
        media::ByteCursor at(bad);
        EXPECT_EQ(PhotoDBReader::readMHAF(at), std::nullopt);
        EXPECT_EQ(at.position(), 0u);
    }
}

TEST(PhotoDBReaderTest, EmptyAndMissingInputsGiveAnEmptyResult) {
    for (const Bytes& input : {Bytes{}, fileOf("mhfd", 132, 0, {}),
                               fileOf("mhfd", 132, 0x80000000, {}), header("mhfd", 16)}) {
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
    const Bytes deep =
        fileOf("mhfd", 132, 1, listSet(1, "mhli", 1, withTotal(image, dataRecord(2, nested))));
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
