#include <gtest/gtest.h>

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <filesystem>
#include <fstream>

#include "content/NSImage.h"
#include "content/PNGNormalizer.h"
#include "content/support/PngSamples.h"
#include "foundation/AtomicFile.h"
#include "foundation/ScratchFolder.h"

namespace {

using foundation::Data;
using pngtest::Chunk;
using pngtest::Rgba;

// Decodes through gdk-pixbuf and checks every pixel against the sample pattern.
void expectSamplePixels(const Data& png, std::uint32_t width, std::uint32_t height) {
    const auto image = NSImage::safeImageWithDataIsPNG(png, false);
    ASSERT_TRUE(image);
    ASSERT_EQ(gdk_pixbuf_get_width(image.get()), static_cast<int>(width));
    ASSERT_EQ(gdk_pixbuf_get_height(image.get()), static_cast<int>(height));
    ASSERT_EQ(gdk_pixbuf_get_n_channels(image.get()), 4);
    const guint8* pixels = gdk_pixbuf_read_pixels(image.get());
    const int stride = gdk_pixbuf_get_rowstride(image.get());
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            const guint8* p = pixels + y * stride + x * 4;
            EXPECT_EQ((Rgba{p[0], p[1], p[2], p[3]}), pngtest::samplePixel(x, y)) << x << "," << y;
        }
    }
}

TEST(PNGNormalizerTest, DeviceStyleBecomesStandardPNG) {
    struct Case {
        const char* name;
        pngtest::DeviceOptions options;
    };
    auto options = [](std::uint32_t width, std::uint32_t height, std::size_t pieces = 1,
                      std::uint8_t filter = 0, Data trailer = {}) {
        pngtest::DeviceOptions o;
        o.width = width;
        o.height = height;
        o.idatPieces = pieces;
        o.filter = filter;
        o.trailer = std::move(trailer);
        return o;
    };
    const Case cases[] = {
        {"one chunk", options(5, 4)},
        {"split over several chunks", options(40, 30, 7)},
        {"filtered rows", options(9, 3, 1, 1)},
        // Compressed data longer than the raw rows: the output buffer must allow for it.
        {"one pixel", options(1, 1)},
        {"bytes after the end", options(5, 4, 1, 0, {'j', 'u', 'n', 'k'})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Data device = pngtest::devicePng(c.options);
        const auto converted = PNGNormalizer::dataFromPNGData(device);
        ASSERT_TRUE(converted);
        EXPECT_TRUE(PNGNormalizer::isGoodPNGData(*converted));

        std::vector<bool> crcValid;
        const auto chunks = pngtest::chunksOf(*converted, &crcValid);
        for (bool valid : crcValid) EXPECT_TRUE(valid);
        std::vector<std::string> types;
        for (const auto& chunk : chunks) types.push_back(chunk.type);
        EXPECT_EQ(types, (std::vector<std::string>{"IHDR", "tEXt", "IDAT", "IEND"}));
        EXPECT_EQ(chunks[1].body, (Data{'k', 0, 'v'}));  // ancillary chunks unchanged
        expectSamplePixels(*converted, c.options.width, c.options.height);
    }
}

TEST(PNGNormalizerTest, StandardPNGComesBackUnchangedAndOtherDataNot) {
    const Data standard = pngtest::standardPng(3, 2);
    EXPECT_EQ(PNGNormalizer::dataFromPNGData(standard), standard);
    const Data jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F',  0,
                       1,    1,    0,    0,    1, 0,  1,   0,   0,   0xFF, 0xD9};
    EXPECT_FALSE(PNGNormalizer::dataFromPNGData(jpeg));
    EXPECT_FALSE(PNGNormalizer::dataFromPNGData(Data(standard.begin(), standard.begin() + 19)));
    EXPECT_FALSE(PNGNormalizer::dataFromPNGData(Data{}));
}

TEST(PNGNormalizerTest, DamagedDeviceStyleDataGivesNothing) {
    using pngtest::file;
    using pngtest::header;
    const Data rows = pngtest::rows(4, 4, true, 0);
    const Data compressed = pngtest::compress(rows, -15);
    const Chunk cgbi{"CgBI", {0, 0, 0, 0}};
    const Chunk end{"IEND", {}};
    const Chunk data{"IDAT", compressed};
    Data lengthPastEnd = pngtest::devicePng();
    lengthPastEnd[8 + 12 + 4 + 3] = 0xFF;  // low byte of the IHDR length
    Data cutShort = pngtest::devicePng();
    cutShort.resize(cutShort.size() - 20);

    const std::pair<const char*, Data> cases[] = {
        {"chunk length past the end", lengthPastEnd},
        {"cut inside a chunk", cutShort},
        {"image data before the header", file({cgbi, data, {"IHDR", header(4, 4)}, end})},
        {"no header at all", file({cgbi, data, end})},
        {"no image data", file({cgbi, {"IHDR", header(4, 4)}, end})},
        {"nothing but the device chunk", file({cgbi, {"zzzz", Data(8, 1)}})},
        {"damaged deflate data",
         file({cgbi, {"IHDR", header(4, 4)}, {"IDAT", Data(40, 0xFF)}, end})},
        {"too few rows", file({cgbi, {"IHDR", header(4, 5)}, data, end})},
        {"zlib instead of raw deflate",
         file({cgbi, {"IHDR", header(4, 4)}, {"IDAT", pngtest::compress(rows, 15)}, end})},
        {"red-green-blue without alpha", file({cgbi, {"IHDR", header(4, 4, 8, 2)}, data, end})},
        {"16 bits per channel", file({cgbi, {"IHDR", header(4, 4, 16, 6)}, data, end})},
        {"interlaced", file({cgbi, {"IHDR", header(4, 4, 8, 6, 1)}, data, end})},
        {"size overflows", file({cgbi, {"IHDR", header(0xFFFFFFFF, 0xFFFFFFFF)}, data, end})},
        {"zero width", file({cgbi, {"IHDR", header(0, 4)}, data, end})},
        {"short header", file({cgbi, {"IHDR", {0, 0, 0, 4}}, data, end})},
        {"image data in two runs",
         file({cgbi, {"IHDR", header(4, 4)}, data, {"tEXt", {'a', 0}}, data, end})},
    };
    for (const auto& [name, png] : cases) {
        EXPECT_FALSE(PNGNormalizer::dataFromPNGData(png)) << name;
    }
}

TEST(PNGNormalizerTest, ByteOperationsRefuseBuffersOfTheWrongSize) {
    const Data plain = pngtest::rows(20, 20, false, 0);
    Data tooSmall(4);
    EXPECT_EQ(PNGNormalizer::deflateData(plain, tooSmall), 0u);
    const Data raw = pngtest::compress(plain, -15);
    Data larger(plain.size() + 1);
    EXPECT_FALSE(PNGNormalizer::inflateData(raw, larger));
}

class PNGNormalizerFileTest : public ::testing::Test {
protected:
    std::string write(const std::string& name, const Data& bytes) {
        const std::string path = folder_ / name;
        EXPECT_TRUE(foundation::writeFileAtomically(path, bytes));
        return path;
    }

    foundationtest::ScratchFolder folder_;
};

TEST_F(PNGNormalizerFileTest, RecognisesFiles) {
    const Data device = pngtest::devicePng();
    const std::string devicePath = write("device.png", device);
    const std::string standardPath = write("standard.png", pngtest::standardPng(2, 2));
    const std::string shortPath = write("short.png", Data(device.begin(), device.begin() + 19));
    EXPECT_TRUE(PNGNormalizer::isPNGFile(devicePath));
    EXPECT_FALSE(PNGNormalizer::isGoodPNGFile(devicePath));
    EXPECT_TRUE(PNGNormalizer::isPNGFile(standardPath));
    EXPECT_TRUE(PNGNormalizer::isGoodPNGFile(standardPath));
    EXPECT_FALSE(PNGNormalizer::isPNGFile(shortPath));
    EXPECT_FALSE(PNGNormalizer::isPNGFile(folder_ / "missing.png"));
    const auto image = PNGNormalizer::imageWithContentsOfPNGFile(devicePath);
    ASSERT_TRUE(image);
    EXPECT_EQ(gdk_pixbuf_get_width(image.get()), 5);
}

TEST_F(PNGNormalizerFileTest, FixesFileInPlaceKeepingABackup) {
    const Data device = pngtest::devicePng();
    const std::string path = write("icon.png", device);
    foundation::Error error;
    ASSERT_TRUE(PNGNormalizer::fixPNGFileAtPathErrorBackup(path, &error, true));
    EXPECT_TRUE(PNGNormalizer::isGoodPNGFile(path));
    EXPECT_EQ(foundation::readFile(path + ".bak"), device);

    const Data text = {'n', 'o', 't', ' ', 'a', ' ', 'p', 'n', 'g'};
    const std::string other = write("text.png", text);
    EXPECT_FALSE(PNGNormalizer::fixPNGFileAtPathErrorBackup(other, &error, false));
    EXPECT_FALSE(error.message.empty());
    EXPECT_EQ(foundation::readFile(other), text);
    EXPECT_FALSE(std::filesystem::exists(other + ".bak"));
}

}  // namespace
