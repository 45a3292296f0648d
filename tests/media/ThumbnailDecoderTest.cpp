#include <gtest/gtest.h>

#include <array>

#include "RecordWriter.h"
#include "media/ArtworkImage.h"
#include "media/CorrelationRules.h"
#include "media/PictureCodec.h"
#include "media/ThumbnailDecoder.h"

namespace {

using foundation::Value;
using media::ArtworkImage;
using media::CorrelationRules;
using media::RgbaImage;
using media::ThumbnailDecoder;
using mediatest::Bytes;

using Rgba = std::array<int, 4>;

Rgba at(const RgbaImage& image, int x, int y) {
    const auto* p = image.pixel(x, y);
    return {p[0], p[1], p[2], p[3]};
}

Bytes pixels16(const std::vector<std::uint16_t>& values) {
    Bytes out;
    for (auto v : values) {
        out.push_back(static_cast<std::uint8_t>(v));
        out.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    return out;
}

Value subImage(int width, int height, int horizontalPadding = 0, std::uint32_t size = 1,
               std::uint32_t size2 = 2) {
    return Value::dict({{"imageWidth", width},
                        {"imageHeight", height},
                        {"horizontalPadding", horizontalPadding},
                        {"verticalPadding", 0},
                        {"imageSize", size},
                        {"imageSize2", size2}});
}

TEST(ThumbnailDecoderTest, SinglePixelConversions) {
    const struct {
        std::uint16_t pixel;
        bool rgb565;
        Rgba expected;
    } cases[] = {
        {0xFFFF, true, {255, 255, 255, 255}}, {0x7FFF, false, {248, 248, 248, 255}},
        {0xF800, true, {255, 0, 0, 255}},     {0x07E0, true, {0, 255, 0, 255}},
        {0x8000, false, {0, 0, 0, 255}},      {0x7C00, false, {248, 0, 0, 255}},
        {0x0821, true, {8, 4, 8, 255}},
    };
    for (const auto& c : cases) {
        const Bytes bytes = pixels16({c.pixel, 0});
        auto image = c.rgb565 ? ThumbnailDecoder::ImageFromRGB565(bytes, 1, 1)
                              : ThumbnailDecoder::ImageFromRGB555(bytes, 1, 1);
        ASSERT_TRUE(image) << c.pixel;
        EXPECT_EQ(at(*image, 0, 0), c.expected) << std::hex << c.pixel;
    }
}

TEST(ThumbnailDecoderTest, OddWidthsSkipOrKeepThePaddingColumnByFormat) {
    // 6 x 2 stored pixels; column 5 of each row is padding, marked white.
    std::vector<std::uint16_t> grid;
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 5; ++x) grid.push_back(static_cast<std::uint16_t>((y * 5 + x) << 10));
        grid.push_back(0x7FFF);
    }
    const Bytes bytes = pixels16(grid);
    auto thin = ArtworkImage::artworkFromBytes(subImage(5, 2), bytes, 3004);
    ASSERT_TRUE(thin);
    EXPECT_EQ(thin->width, 5);
    EXPECT_EQ(thin->height, 2);
    EXPECT_EQ(at(*thin, 4, 0), (Rgba{4 << 3, 0, 0, 255}));
    EXPECT_EQ(at(*thin, 0, 1), (Rgba{5 << 3, 0, 0, 255}));  // the padding pixel was skipped

    auto wide = ArtworkImage::artworkFromBytes(subImage(5, 2), bytes, 3005);
    ASSERT_TRUE(wide);
    EXPECT_EQ(wide->width, 6);
    EXPECT_EQ(at(*wide, 5, 0), (Rgba{248, 248, 248, 255}));
    EXPECT_EQ(at(*wide, 0, 1), (Rgba{5 << 3, 0, 0, 255}));
}

TEST(ThumbnailDecoderTest, DimensionsAreCheckedAgainstTheBytes) {
    const Bytes sixByTwo = pixels16(std::vector<std::uint16_t>(12, 0xFFFF));
    const struct {
        int width, height;
        std::size_t bytes;
        bool decodes;
    } cases[] = {
        {5, 2, 24, true},     {5, 2, 23, false},
        {6, 2, 24, true},     {6, 3, 24, false},
        {0, 2, 24, false},    {5, -1, 24, false},
        {5000, 1, 24, false}, {1, 1, 4, true},
        {1, 1, 2, false},     {0x40000000, 0x40000000, 24, false},
    };
    for (const auto& c : cases) {
        const auto bytes = std::span(sixByTwo).first(c.bytes);
        EXPECT_EQ(ThumbnailDecoder::ImageFromRGB565(bytes, c.width, c.height).has_value(),
                  c.decodes)
            << c.width << "x" << c.height << " from " << c.bytes;
        EXPECT_EQ(ThumbnailDecoder::ImageFromRGB555(bytes, c.width, c.height).has_value(),
                  c.decodes);
    }
    EXPECT_FALSE(ThumbnailDecoder::YV12toRGB(Bytes(5), 2, 2));
    EXPECT_FALSE(ThumbnailDecoder::YUY2toRGB(Bytes(7), 2, 2));
    EXPECT_FALSE(ThumbnailDecoder::YUY2toRGB(Bytes(12), 3, 1));  // odd width
}

TEST(ThumbnailDecoderTest, YuvColoursClampAndFieldsInterleave) {
    // Luma and chroma at their extremes push channels out of range: they clamp, not wrap.
    auto bright = ThumbnailDecoder::YV12toRGB(Bytes(6, 255), 2, 2);
    ASSERT_TRUE(bright);
    EXPECT_EQ((*bright)[0], 255);
    EXPECT_EQ((*bright)[2], 255);
    auto dark = ThumbnailDecoder::YV12toRGB(Bytes(6, 0), 2, 2);
    ASSERT_TRUE(dark);
    EXPECT_EQ((*dark)[0], 0);
    EXPECT_EQ((*dark)[2], 0);
    // Odd dimensions share the last chroma sample instead of reading past the planes.
    EXPECT_TRUE(ThumbnailDecoder::YV12toRGB(Bytes(9 + 2), 3, 3));

    // Two rows of 2 x 1 UYVY: the first source row is output row 0, the second row 1.
    Bytes uyvy = {128, 255, 128, 255, 128, 16, 128, 16};
    auto image = ThumbnailDecoder::ImageFromUYVY(uyvy, 2, 2);
    ASSERT_TRUE(image);
    EXPECT_EQ(at(*image, 1, 0), (Rgba{255, 255, 255, 255}));
    EXPECT_EQ(at(*image, 0, 1), (Rgba{0, 0, 0, 255}));
    // Four rows: source rows 0, 1 go to 0, 2 and rows 2, 3 to 1, 3.
    Bytes four = {128, 255, 128, 255, 128, 255, 128, 255, 128, 16, 128, 16, 128, 16, 128, 16};
    image = ThumbnailDecoder::ImageFromUYVY(four, 2, 4);
    ASSERT_TRUE(image);
    EXPECT_EQ(at(*image, 0, 2)[0], 255);
    EXPECT_EQ(at(*image, 0, 1)[0], 0);
}

TEST(ThumbnailDecoderTest, ThumbnailRuleOverFileLists) {
    auto file = [](std::uint32_t id, std::uint32_t size) {
        return Value::dict({{"correlationID", id}, {"imageSize", size}});
    };
    const struct {
        const char* what;
        Value list;
        std::uint32_t expected;
    } cases[] = {
        {"3143 is passed over for the one before",
         Value::list({file(3143, 30000), file(3006, 500)}), 3006},
        {"only 3143", Value::list({file(3143, 30000)}), 0},
        {"3004 first wins", Value::list({file(3004, 90000), file(3006, 10)}), 3004},
        {"large file chosen at once", Value::list({file(3006, 500), file(3007, 20001)}), 3007},
        {"smallest", Value::list({file(3006, 900), file(3007, 500), file(3008, 700)}), 3007},
        {"size 0 counts as none", Value::list({file(3009, 0), file(3010, 800)}), 3010},
        {"smallest 3143 after one", Value::list({file(3006, 900), file(3143, 10)}), 3006},
        {"empty", Value::list({}), 0},
        {"no list", Value(), 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CorrelationRules::correlationIDForThumbnail(c.list), c.expected) << c.what;
    }
    const Value image = Value::dict(
        {{"subImages",
          Value::dict({{"1", file(1028, 100)}, {"2", file(1029, 400)}, {"3", file(1030, 400)}})}});
    EXPECT_EQ(CorrelationRules::fullsizeCorrelationIDForPhoto(image), 1029u);
    EXPECT_EQ(CorrelationRules::fullsizeCorrelationIDForPhoto(Value()), 0u);
    EXPECT_EQ(CorrelationRules::correlationIDForFullsize(Value::list({file(5, 1), file(6, 9)}), 77),
              6u);
    EXPECT_EQ(CorrelationRules::correlationIDForFullsize(Value::list({}), 77), 77u);
}

TEST(ThumbnailDecoderTest, EncodedPicturesOpenAndRawBytesFallBackToPixels) {
    RgbaImage red{2, 2, {}};
    for (int i = 0; i < 4; ++i) red.pixels.insert(red.pixels.end(), {255, 0, 0, 255});
    auto png = media::PictureCodec::encodePNG(red);
    ASSERT_TRUE(png);
    // Dimensions 0: only an encoded picture will do.
    auto opened = ArtworkImage::artworkFromBytes(subImage(0, 0), *png, 1028);
    ASSERT_TRUE(opened);
    EXPECT_EQ(at(*opened, 1, 1), (Rgba{255, 0, 0, 255}));
    EXPECT_FALSE(ArtworkImage::artworkFromBytes(subImage(0, 0), pixels16({1, 2}), 1028));
    // Equal sizes try the encoded picture first, then the raw pixels.
    auto raw = ArtworkImage::artworkFromBytes(subImage(1, 1, 0, 4, 4), pixels16({0xF800, 0}), 1028);
    ASSERT_TRUE(raw);
    EXPECT_EQ(at(*raw, 0, 0), (Rgba{255, 0, 0, 255}));
    EXPECT_FALSE(ArtworkImage::artworkFromBytes(subImage(1, 1), Bytes{}, 1028));
    EXPECT_FALSE(media::PictureCodec::decode(Bytes{'n', 'o', 'p', 'e'}));
    // Only PNG and JPEG: a device has no business sending an SVG.
    const std::string svg = "<svg xmlns='http://www.w3.org/2000/svg' width='2' height='2'/>";
    EXPECT_FALSE(media::PictureCodec::decode(Bytes(svg.begin(), svg.end())));
    EXPECT_FALSE(media::PictureCodec::encodePNG(RgbaImage{2, 2, {1, 2, 3}}));
}

TEST(ThumbnailDecoderTest, ArtworkPathsStayInsideTheArtworkFolder) {
    ArtworkImage::Device device{.controlFolder = "/iPod_Control"};
    auto named = [](std::string_view name) {
        return Value::dict({{"mhodString", std::string(name)}});
    };
    using namespace std::string_view_literals;
    const struct {
        std::string_view name;
        bool iOS7;
        std::optional<std::string> expected;
    } cases[] = {
        {":F1028_1.ithmb", false, "/iPod_Control/Artwork/F1028_1.ithmb"},
        {":F1028_1.ithmb", true, "/iPod_Control/iTunes/Artwork/F1028_1.ithmb"},
        {"F1.ithmb", false, "/iPod_Control/Artwork/F1.ithmb"},
        {":..:..:etc:passwd", false, std::nullopt},
        {"..", false, std::nullopt},
        {":a:..", false, std::nullopt},
        {":..b:c", false, "/iPod_Control/Artwork/..b/c"},
        {":..\0:etc"sv, false, std::nullopt},
        {":F1\0.ithmb"sv, false, std::nullopt},
        {"", false, std::nullopt},
    };
    for (const auto& c : cases) {
        device.iOS7 = c.iOS7;
        EXPECT_EQ(ArtworkImage::artworkFilePath(named(c.name), device), c.expected) << c.name;
    }
    EXPECT_EQ(ArtworkImage::photoFilePath(named(":Thumbs:F1019_1.ithmb")),
              "/Photos/Thumbs/F1019_1.ithmb");

    // A track without database artwork falls back to its original picture, by a name that
    // must stay inside the originals folder too.
    std::vector<std::string> asked;
    device.readFile = [&](const std::string& path) -> std::optional<ArtworkImage::Bytes> {
        asked.push_back(path);
        return media::PictureCodec::encodePNG(RgbaImage{1, 1, {0, 0, 255, 255}});
    };
    device.iOS7 = false;
    auto track = [](const char* relative) {
        return Value::dict({{"artwork_cache_id", 5}, {"artwork_relative_path", relative}});
    };
    auto original = ArtworkImage::artworkForTrack(track("ab/cd.jpg"), Value(), device);
    ASSERT_TRUE(original);
    EXPECT_EQ(at(*original, 0, 0), (Rgba{0, 0, 255, 255}));
    EXPECT_FALSE(ArtworkImage::artworkForTrack(track("../../secret"), Value(), device));
    // A damaged size never turns into a huge device read.
    int reads = 0;
    const ArtworkImage::ReadRange counting = [&](const std::string&, std::uint64_t, std::uint32_t) {
        ++reads;
        return std::optional<ArtworkImage::Bytes>(ArtworkImage::Bytes(4));
    };
    auto sized = [](std::uint32_t size) {
        return Value::dict({{"iThumbOffSet", 0u}, {"imageSize", size}});
    };
    EXPECT_FALSE(ArtworkImage::dataForImage(sized(0xFFFFFFFF), "/f", counting));
    EXPECT_TRUE(ArtworkImage::dataForImage(sized(4), "/f", counting));
    EXPECT_FALSE(ArtworkImage::dataForImage(Value::dict({{"imageSize", 4u}}), "/f", counting));
    EXPECT_EQ(reads, 1);
    EXPECT_EQ(asked,
              (std::vector<std::string>{"/iPod_Control/iTunes/Artwork/Originals/ab/cd.jpg"}));
}

}  // namespace
